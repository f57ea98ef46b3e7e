// One valid call of every exported routine on the test network, made
// through ORVEK.dll with the stack probe (routines whose inputs come from
// another routine call that one first, as a host chains them).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "workspace.hpp"

namespace orvek::windows_test {

struct Recipe {
  const char *routine; // the routine the recipe ends with
  std::function<void(Workspace &)> run;
};

const std::vector<Recipe> &Recipes();

// Steps shared by recipes and numerical tests.
void AssembleWithShunts(Workspace &w);        // MatricaY -> IROW, JCOL, A, NZ, SA, IJA
void FactorComplex(Workspace &w);             // AssembleWithShunts, LUC
void ImpedanceColumn(Workspace &w, int node); // FactorComplex, BSC with a unit injection -> X
void FastDecoupled(Workspace &w);             // Matrici_VektoriBX
void Adjacency(Workspace &w);                 // MAUX -> IJAT, IBR
void Ordering(Workspace &w);                  // Adjacency, MultiPodred

} // namespace orvek::windows_test
