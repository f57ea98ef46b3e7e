// Seed corpora of the fuzz targets, written at run time: one directory per
// target under the output directory, seeds encoded with the targets' own
// byte format (fuzz/byte_stream.hpp). Sources: the small example networks
// the unit tests use (two and three nodes, parallel branches, a self-loop,
// an isolated node, an opened branch) and every case file in the cases
// directory that fits the capacities (1000 nodes, 5000 branches, 9999
// entries); larger cases are skipped. The case reader's seeds are the case
// files' own text. The inputs of earlier findings are added as regression
// seeds.
// Usage: fuzz_seeds <output directory> [<cases directory>]
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/byte_stream.hpp"
#include "tools/casefile/matpower.hpp"

namespace {

namespace fs = std::filesystem;
using orvek::fuzz::ByteWriter;

struct Net {
  std::string name;
  std::int32_t n = 0;
  std::vector<std::int32_t> from, to;
  std::vector<std::complex<float>> z, ya, yb;
  std::vector<float> t, r, x;
  std::vector<std::int32_t> ksh;
  std::vector<float> bsh;
  std::int32_t nb() const { return static_cast<std::int32_t>(from.size()); }
  void add(std::int32_t i, std::int32_t j, std::complex<float> zz, std::complex<float> y) {
    from.push_back(i), to.push_back(j), z.push_back(zz), ya.push_back(y), yb.push_back(y);
    t.push_back(1.0f), r.push_back(zz.real()), x.push_back(zz.imag());
  }
};

std::vector<Net> Examples() {
  std::vector<Net> nets;
  const std::complex<float> j05(0, 0.5f), j1(0, 1), jy(0, 0.25f);
  Net two;
  two.name = "two";
  two.n = 2, two.add(1, 2, j05, jy);
  nets.push_back(two);
  Net three;
  three.name = "three";
  three.n = 3, three.add(1, 2, j05, jy), three.add(2, 3, j1, jy);
  three.ksh = {2}, three.bsh = {0.1f};
  nets.push_back(three);
  Net parallel;
  parallel.name = "parallel";
  parallel.n = 3, parallel.add(1, 2, j05, jy), parallel.add(2, 1, j1, jy), parallel.add(3, 2, j1, jy);
  nets.push_back(parallel);
  Net loop;
  loop.name = "selfloop_isolated";
  loop.n = 4, loop.add(1, 2, j05, jy), loop.add(2, 2, j1, jy), loop.add(1, 4, j1, jy);
  nets.push_back(loop);
  return nets;
}

bool FromCase(const fs::path &file, Net &net) {
  try {
    const auto c = orvek::casefile::ReadCase(file.string());
    const auto network = orvek::casefile::BuildNetwork(c, orvek::casefile::NodeOrder::kPowerFlow);
    const auto host = orvek::casefile::MakeHostArrays(network);
    net.name = file.stem().string();
    net.n = host.n;
    for (std::int32_t b = 0; b < host.nb; ++b) {
      const auto k = static_cast<std::size_t>(b), ld = static_cast<std::size_t>(host.ld);
      net.from.push_back(host.nodes[k]), net.to.push_back(host.nodes[ld + k]);
      net.z.emplace_back(host.z[k], host.z[ld + k]);
      net.ya.emplace_back(host.ya[k], host.ya[ld + k]);
      net.yb.emplace_back(host.yb[k], host.yb[ld + k]);
      net.r.push_back(host.z_bx[k]), net.x.push_back(host.z_bx[ld + k]), net.t.push_back(host.t[k]);
    }
    net.ksh = host.ksh, net.bsh = host.bsh;
    return true;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "fuzz_seeds: %s skipped: %s\n", file.string().c_str(), e.what());
    return false;
  }
}

void Write(const fs::path &dir, const std::string &name, const ByteWriter &w) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char *>(w.bytes().data()), static_cast<std::streamsize>(w.bytes().size()));
}

void Branches(ByteWriter &w, const Net &net, bool status) {
  w.integer(net.n), w.integer(net.nb());
  for (std::int32_t b = 0; b < net.nb(); ++b) {
    const auto k = static_cast<std::size_t>(b);
    w.integer(net.from[k]), w.integer(net.to[k]);
    w.real(net.z[k].real()), w.real(net.z[k].imag()), w.real(net.ya[k].real()), w.real(net.ya[k].imag());
    w.real(net.yb[k].real()), w.real(net.yb[k].imag());
    if (status) w.integer(b % 7 == 3 ? 0 : 1);
  }
}

// Admittance triplets (diagonals first, then each node pair both ways), in
// single precision; values need not match the library's to the bit.
std::vector<std::pair<std::pair<std::int32_t, std::int32_t>, std::complex<float>>> Admittance(const Net &net) {
  std::map<std::pair<std::int32_t, std::int32_t>, std::complex<double>> y;
  for (std::int32_t i = 1; i <= net.n; ++i) y[{i, i}] = 0.0;
  for (std::int32_t b = 0; b < net.nb(); ++b) {
    const auto k = static_cast<std::size_t>(b);
    const std::complex<double> ys = 1.0 / std::complex<double>(net.z[k]);
    const std::int32_t i = net.from[k], j = net.to[k];
    y[{i, i}] += ys + std::complex<double>(net.ya[k]);
    y[{j, j}] += ys + std::complex<double>(net.yb[k]);
    if (i != j) y[{i, j}] -= ys, y[{j, i}] -= ys;
  }
  std::vector<std::pair<std::pair<std::int32_t, std::int32_t>, std::complex<float>>> out;
  for (const auto &[pos, v] : y) out.push_back({pos, std::complex<float>(v)});
  std::stable_sort(out.begin(), out.end(), [](const auto &a, const auto &b) {
    return (a.first.first == a.first.second) > (b.first.first == b.first.second);
  });
  return out;
}

void Seeds(const fs::path &root, const Net &net) {
  const std::string tag = net.name;
  // Assembly: MatricaY, MatY, MatYsa, MatY_prekin.
  for (std::uint8_t which = 0; which < 4; ++which) {
    ByteWriter w;
    w.byte(which);
    if (which == 0) {
      w.integer(static_cast<std::int32_t>(net.ksh.size()));
      for (std::size_t k = 0; k < net.ksh.size(); ++k) w.integer(net.ksh[k]), w.real(net.bsh[k]);
    }
    Branches(w, net, which == 3);
    Write(root / "assembly", tag + "-" + std::to_string(which), w);
  }
  // Reductions on a MatYsa assembly of the same branch ends (at most 199).
  if (net.nb() < 200 && net.n >= 2) {
    ByteWriter w;
    w.byte(4), w.integer(net.n - 1), w.integer(net.n), w.byte(1), w.integer(net.nb());
    for (std::int32_t b = 0; b < net.nb(); ++b) w.integer(net.from[static_cast<std::size_t>(b)] - 1), w.integer(net.to[static_cast<std::size_t>(b)] - 1);
    Write(root / "assembly", tag + "-matricayr", w);
    ByteWriter v;
    v.byte(5), v.integer(net.n);
    for (std::int32_t c = 1; c <= net.n; ++c) v.byte(c == 1 || c == net.n ? 0 : 1); // drop every node but the ends
    v.byte(0), v.byte(1), v.integer(net.nb());
    for (std::int32_t b = 0; b < net.nb(); ++b) v.integer(net.from[static_cast<std::size_t>(b)] - 1), v.integer(net.to[static_cast<std::size_t>(b)] - 1);
    Write(root / "assembly", tag + "-matyr", v);
  }
  // Sparse: LUC on the admittance matrix, LUR on its susceptance part.
  const auto y = Admittance(net);
  for (std::uint8_t complex = 0; complex < 2; ++complex) {
    ByteWriter w;
    w.byte(complex), w.integer(net.n), w.integer(static_cast<std::int32_t>(y.size()));
    for (const auto &[pos, v] : y) {
      w.integer(pos.first), w.integer(pos.second);
      if (complex) w.real(v.real()), w.real(v.imag());
      else w.real(-v.imag());
    }
    for (int k = 0; k < 11; ++k) w.byte(0); // IPARAM, RPARAM: defaults
    w.byte(0), w.byte(0);                   // first solve: IPATH 1, X apart from B
    for (std::int32_t i = 1; i <= net.n; ++i) {
      w.real(i == 1 ? 1.0f : 0.0f);
      if (complex) w.real(0.0f);
    }
    w.byte(0), w.byte(0), w.byte(1), w.byte(0x90); // second solve: no edits, IPATH 2, X = B
    Write(root / "sparse", tag + (complex ? "-luc" : "-lur"), w);
  }
  // Sequence: Sg, StruiKV, NaponiKV, SimFaz.
  if (net.n <= 1000) {
    for (std::uint8_t which : {3, 4}) {
      ByteWriter w;
      w.byte(which), w.integer(net.nb()), w.integer(net.n);
      for (std::int32_t b = 0; b < net.nb(); ++b) w.integer(net.from[static_cast<std::size_t>(b)]), w.integer(net.to[static_cast<std::size_t>(b)]);
      for (const auto *v : {&net.z, &net.ya, &net.yb})
        for (const auto &c : *v) w.real(c.real()), w.real(c.imag());
      for (std::int32_t i = 0; i < net.n; ++i) w.real(1.0f - 0.001f * static_cast<float>(i)), w.real(-0.01f);
      Write(root / "sequence", tag + "-" + std::to_string(which), w);
    }
    for (std::int32_t itype = 1; itype <= 4; ++itype) {
      ByteWriter w;
      w.byte(8), w.integer(net.n), w.integer(itype), w.integer((net.n + 1) / 2);
      for (std::int32_t i = 0; i < net.n; ++i) w.real(110.0f);
      for (int array = 0; array < 4; ++array)
        for (std::int32_t i = 0; i < net.n; ++i) w.real(array == 0 ? 1.0f : 0.01f), w.real(array == 0 ? 0.0f : 0.1f * static_cast<float>(array));
      Write(root / "sequence", tag + "-fault" + std::to_string(itype), w);
    }
    ByteWriter s;
    s.byte(0), s.integer(net.nb());
    for (int array = 0; array < 3; ++array)
      for (const auto &c : net.z) s.real(c.real()), s.real(c.imag());
    Write(root / "sequence", tag + "-simfaz", s);
  }
  // Topology road.
  if (net.nb() <= 2499) {
    ByteWriter w;
    w.integer(net.n), w.integer(net.nb());
    for (std::int32_t b = 0; b < net.nb(); ++b) w.integer(net.from[static_cast<std::size_t>(b)]), w.integer(net.to[static_cast<std::size_t>(b)]);
    for (std::int32_t k = 0; k <= net.n; ++k) w.byte(0);
    Write(root / "topology", tag, w);
  }
  // Fast decoupled matrices.
  {
    ByteWriter w;
    w.integer(net.n), w.byte(0), w.byte(0), w.integer(net.nb());
    for (std::int32_t b = 0; b < net.nb(); ++b) {
      const auto k = static_cast<std::size_t>(b);
      w.integer(net.from[k]), w.integer(net.to[k]), w.real(net.r[k]), w.real(net.x[k]), w.real(net.t[k]);
    }
    Write(root / "fast_decoupled", tag, w);
  }
  // Dense utilities on the admittance matrix of networks of at most 100 nodes.
  if (net.n <= 100) {
    std::vector<std::complex<float>> dense(static_cast<std::size_t>(net.n * net.n));
    for (const auto &[pos, v] : y) dense[static_cast<std::size_t>((pos.second - 1) * net.n + pos.first - 1)] = v;
    for (std::uint8_t which : {0, 3, 4}) {
      ByteWriter w;
      w.byte(which), w.integer(net.n);
      for (const auto &v : dense) w.real(v.real()), w.real(v.imag());
      for (std::int32_t i = 0; i < net.n && which != 0; ++i) w.real(1.0f), w.real(-0.01f * static_cast<float>(i));
      Write(root / "dense", tag + "-" + std::to_string(which), w);
    }
  }
  // MNOZI on the row-indexed form of the admittance matrix (nodes up to 1000).
  if (net.n <= 1000 && y.size() < 9999) {
    std::vector<std::vector<std::pair<std::int32_t, std::complex<float>>>> rows(static_cast<std::size_t>(net.n));
    std::vector<std::complex<float>> diag(static_cast<std::size_t>(net.n));
    for (const auto &[pos, v] : y) {
      if (pos.first == pos.second) diag[static_cast<std::size_t>(pos.first - 1)] = v;
      else rows[static_cast<std::size_t>(pos.first - 1)].push_back({pos.second, v});
    }
    std::vector<std::int32_t> ija(static_cast<std::size_t>(net.n + 1));
    std::vector<std::complex<float>> sa(diag);
    sa.push_back(0.0f);
    std::int32_t p = net.n + 2;
    for (std::int32_t i = 0; i < net.n; ++i) {
      ija[static_cast<std::size_t>(i)] = p;
      for (const auto &[c, v] : rows[static_cast<std::size_t>(i)]) ija.push_back(c), sa.push_back(v), ++p;
    }
    ija[static_cast<std::size_t>(net.n)] = p;
    for (std::uint8_t which : {1, 5}) {
      ByteWriter w;
      w.byte(which);
      if (which == 5) w.integer(net.n), w.integer(1); // So at node 1
      else w.integer(net.n);
      w.integer(p);
      for (std::int32_t i = 0; i < net.n; ++i) w.integer(ija[static_cast<std::size_t>(i)]);
      for (std::size_t k = static_cast<std::size_t>(net.n) + 1; k + 1 < static_cast<std::size_t>(p); ++k) w.integer(ija[k]);
      if (which == 1) {
        for (std::int32_t i = 0; i < net.n; ++i) w.real(1.0f), w.real(-0.01f);
      } else {
        for (std::int32_t i = 0; i < net.n; ++i) w.real(1.0f), w.real(-0.01f);
      }
      for (const auto &v : sa) w.real(v.real()), w.real(v.imag());
      Write(root / (which == 1 ? "dense" : "sequence"), tag + (which == 1 ? "-mnozi" : "-so"), w);
    }
  }
}

// The error module: a push, a long TERMINAL message with every placeholder
// kind and forced breaks, a WARNING from a nested routine, the pops.
void ErrorModuleSeeds(const fs::path &root) {
  auto text = [](ByteWriter &w, const std::string &s) {
    if (s.size() < 0xC0) {
      w.byte(static_cast<std::uint8_t>(s.size()));
    } else {
      w.byte(static_cast<std::uint8_t>(0xC0 + s.size() / 64)), w.byte(static_cast<std::uint8_t>(s.size() % 64));
    }
    for (const char c : s) w.byte(static_cast<std::uint8_t>(0x80 | c)); // literal characters
  };
  ByteWriter w;
  w.byte(0), text(w, "LFTXG");
  w.byte(3), w.integer(1), w.integer(16);
  w.byte(4), w.integer(2), w.real(1.0e16f);
  w.byte(5), w.integer(3), text(w, "IRFAC");
  w.byte(2), w.byte(6), w.byte(4);
  text(w, "The matrix has a duplicate at row %(I1) and column %(I2) of %(L3); growth %(R2).%/  Next line "
          "and a word_longer_than_any_field_of_the_printed_form_that_must_be_split_somewhere_in_the_middle.");
  w.byte(1), w.byte(0);
  w.byte(0), text(w, "LFSXG"), w.byte(2), w.byte(4), w.byte(2), text(w, "A warning.");
  w.byte(1), w.byte(0), w.byte(6), w.byte(5), w.byte(7), w.byte(7), w.integer(3);
  Write(root / "error_module", "messages", w);
}

// Inputs of earlier findings, kept so that every run checks them again: N =
// 2147483647 for MatricaYR (N + 1 overflowed), and a network of 1000
// components for MultiPodred (quadratic scans took seconds per call).
void RegressionSeeds(const fs::path &root) {
  ByteWriter overflow;
  overflow.byte(4), overflow.integer(2147483647), overflow.integer(1);
  Write(root / "assembly", "regression-matricayr-largest-n", overflow);
  ByteWriter forest;
  forest.integer(3499), forest.integer(2499);
  for (std::int32_t b = 1; b <= 2499; ++b) forest.integer(b), forest.integer(b + 1);
  for (std::int32_t k = 0; k <= 3499; ++k) forest.byte(0);
  Write(root / "topology", "regression-multipodred-thousand-components", forest);
}

// Seeds of the case reader: the case files themselves (the first 64 KiB of
// the larger ones, as far as the fuzzer reads), read here at run time, and
// a small case with CR, CR LF and control bytes in it.
void CaseTextSeeds(const fs::path &root, const std::vector<fs::path> &files) {
  constexpr std::size_t kLongest = 1 << 16;
  const fs::path dir = root / "casefile";
  fs::create_directories(dir);
  auto write = [&](const std::string &name, const std::string &text) {
    std::ofstream(dir / name, std::ios::binary) << text.substr(0, kLongest);
  };
  for (const auto &file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string text(kLongest, '\0');
    in.read(text.data(), static_cast<std::streamsize>(kLongest));
    text.resize(static_cast<std::size_t>(in.gcount()));
    write(file.filename().string(), text);
  }
  const std::string small = "function mpc = small\nmpc.version = '2';\nmpc.baseMVA = 100;\n"
                            "mpc.bus = [\n 1 3 0 0 0 0 1 1 0 0 1 1.1 0.9;\n 2 1 10 5 0 0 1 1 0 0 1 1.1 0.9;\n];\n"
                            "mpc.gen = [ 1 0 0 10 -10 1 100 1 20 0 ];\n"
                            "mpc.branch = [ 1 2 0.01 0.1 0.02 0 0 0 0 0 1 -360 360 ];\n"
                            "mpc.bus_name = { 'one'; 'two' };\n";
  write("small.m", small);
  std::string cr = small, crlf;
  for (char &c : cr)
    if (c == '\n') c = '\r';
  write("small-cr.m", cr);
  for (const char c : small) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  write("small-crlf.m", crlf);
  write("control-bytes.m", "mpc.baseMVA = 100;\nmpc.bus = [ 1 \x1b[2J 3 ];\n");
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fuzz_seeds <output directory> [<cases directory>]\n");
    return 2;
  }
  const fs::path root = argv[1];
  for (const Net &net : Examples()) Seeds(root, net);
  std::vector<fs::path> files;
  if (argc > 2 && fs::is_directory(argv[2])) {
    for (const auto &entry : fs::directory_iterator(argv[2]))
      if (entry.path().extension() == ".m") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto &file : files) {
      Net net;
      if (FromCase(file, net)) Seeds(root, net);
    }
  }
  CaseTextSeeds(root, files);
  ErrorModuleSeeds(root);
  RegressionSeeds(root);
  return 0;
}
