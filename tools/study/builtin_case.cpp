// Data of the built-in network (see builtin_case.hpp). Line data are typical
// overhead-line figures converted to per unit on 100 MVA:
// 220 kV: 0.08 + j0.40 ohm/km, 2.8 uS/km (Zbase 484 ohm);
// 110 kV: 0.12 + j0.39 ohm/km, 2.9 uS/km (Zbase 121 ohm).
#include "tools/study/builtin_case.hpp"

namespace orvek::study {

const std::string_view kBuiltinCase = R"(function mpc = orvek_builtin
%ORVEK_BUILTIN  Built-in network of orvek-study: nine buses on two voltage
%   levels (220 kV: buses 1-5, 110 kV: buses 6-9).
mpc.version = '2';
mpc.baseMVA = 100;

%% bus data
%	bus_i	type	Pd	Qd	Gs	Bs	area	Vm	Va	baseKV	zone	Vmax	Vmin
mpc.bus = [
	1	3	0	0	0	0	1	1.04	0	220	1	1.1	0.9;
	2	1	90	30	0	0	1	1	0	220	1	1.1	0.9;
	3	2	50	20	0	0	1	1.02	0	220	1	1.1	0.9;
	4	1	0	0	0	0	1	1	0	220	1	1.1	0.9;
	5	1	60	25	0	0	1	1	0	220	1	1.1	0.9;
	6	1	40	15	0	0	1	1	0	110	1	1.1	0.9;
	7	2	0	0	0	0	1	1.01	0	110	1	1.1	0.9;
	8	1	35	12	2	0	1	1	0	110	1	1.1	0.9;
	9	1	30	10	0	15	1	1	0	110	1	1.1	0.9;
];

%% generator data
%	bus	Pg	Qg	Qmax	Qmin	Vg	mBase	status	Pmax	Pmin
mpc.gen = [
	1	0	0	200	-100	1.04	300	1	300	0;
	3	120	0	120	-60	1.02	200	1	200	0;
	7	40	0	40	-20	1.01	60	1	60	0;
];

%% branch data
%	fbus	tbus	r	x	b	rateA	rateB	rateC	ratio	angle	status	angmin	angmax
mpc.branch = [
	1	2	0.0165	0.0826	0.1355	0	0	0	0	0	1	-360	360;
	1	3	0.0124	0.0620	0.1016	0	0	0	0	0	1	-360	360;
	2	3	0.0207	0.1033	0.1694	0	0	0	0	0	1	-360	360;
	2	3	0.0207	0.1033	0.1694	0	0	0	0	0	1	-360	360;
	2	4	0.0099	0.0496	0.0813	0	0	0	0	0	1	-360	360;
	3	5	0.0132	0.0661	0.1084	0	0	0	0	0	1	-360	360;
	4	5	0.0083	0.0413	0.0678	0	0	0	0	0	1	-360	360;
	4	6	0.0040	0.0800	0	0	0	0	0.975	0	1	-360	360;
	5	8	0.0050	0.1000	0	0	0	0	1	0	1	-360	360;
	6	7	0.0298	0.0967	0.0105	0	0	0	0	0	1	-360	360;
	7	8	0.0397	0.1289	0.0140	0	0	0	0	0	1	-360	360;
	6	9	0.0248	0.0806	0.0088	0	0	0	0	0	1	-360	360;
	8	9	0.0347	0.1128	0.0123	0	0	0	0	0	1	-360	360;
];
)";

} // namespace orvek::study
