! The smallest Fortran host of ORVEK (the one the README shows): the
! admittance matrix of one branch 1-2 with Z = j0.5 and end admittances
! j0.25. Prints NZ and the imaginary parts of the triplet values:
! 4  -1.75 -1.75  2.00  2.00
program two_nodes
  use orvek
  implicit none
  real(c_float) :: Z(5000, 2) = 0, YA(5000, 2) = 0, YB(5000, 2) = 0, A(10000, 2), SA(10000, 2), BSH(1)
  integer(c_int32_t) :: NODES(5000, 2) = 0, IROW(10000), JCOL(10000), IJA(10001), KSH(1), NZ
  Z(1, 2) = 0.5; YA(1, 2) = 0.25; YB(1, 2) = 0.25; NODES(1, :) = [1, 2]
  call MatricaY(BSH, KSH, 0, 2, Z, YA, YB, NODES, 1, IROW, JCOL, A, NZ, SA, IJA)
  print '(i0, 4f7.2)', NZ, A(1:NZ, 2)    ! 4  -1.75 -1.75  2.00  2.00
end program two_nodes
