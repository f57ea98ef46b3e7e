"""The smallest Python host of ORVEK (the one the README shows): the
impedance column of node 2 of a two-node network with a generator at node 1.
Prints [0.+0.256j 0.+0.864j]."""
import orvek

m = orvek.MatricaY([-5.0], [1], 1, 2, [0.5j], [0.25j], [0.25j], [[1, 2]], 1)
f = orvek.LUC(2, m.NZ, m.A, m.IROW, m.JCOL)
z = orvek.BSC(2, f.NFAC, f.NL, f.FAC, f.IRFAC, f.JCFAC, f.IPVT, f.JPVT, [0, 1], 1).X
print(z)    # impedance column of node 2: [0.256j, 0.864j]
