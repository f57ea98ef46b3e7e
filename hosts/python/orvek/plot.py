"""Pictures of studies with matplotlib (Agg backend when none is chosen):
the voltage profile of a power flow, the fault levels of every bus sorted
with the contingency range as a band, and the network coloured by fault
level. Each function draws into a new figure (or the axes given) and
returns the figure; save it with fig.savefig("name.png").
"""

import matplotlib

if matplotlib.get_backend().lower() not in ("agg", "module://matplotlib_inline.backend_inline"):
    try:
        matplotlib.use("Agg")
    except Exception:  # a backend already in use stays
        pass

import matplotlib.pyplot as plt  # noqa: E402
import networkx as nx  # noqa: E402
import numpy as np  # noqa: E402

from . import study  # noqa: E402

LAYOUT_SEED = 20  # the same picture every time


def _axes(ax, size):
    if ax is not None:
        return ax.figure, ax
    fig, ax = plt.subplots(figsize=size, dpi=100)
    return fig, ax


def voltage_profile(pf, ax=None, limits=(0.95, 1.05)):
    """|V| of every bus (in bus-table order) of a power flow, with the
    given band of acceptable voltages."""
    fig, ax = _axes(ax, (9, 4))
    buses = pf.buses
    x = np.arange(len(buses))
    colours = {"PQ": "tab:blue", "PV": "tab:green", "REF": "tab:red"}
    for kind, colour in colours.items():
        mask = (buses["type"] == kind).to_numpy()
        ax.scatter(x[mask], buses["vm_pu"].to_numpy()[mask], s=12, color=colour, label=kind, zorder=3)
    ax.plot(x, buses["vm_pu"].to_numpy(), color="0.6", lw=0.8, zorder=2)
    if limits:
        ax.axhspan(limits[0], limits[1], color="tab:green", alpha=0.08, zorder=1)
    ax.set_xlabel("bus (bus-table order)")
    ax.set_ylabel("|V| (pu)")
    ax.set_title("Voltage profile: %s (%s, %d iterations)" % (
        pf.case.name or pf.case.source, "converged" if pf.converged else "NOT converged", pf.iterations))
    ax.legend(loc="best", fontsize="small")
    ax.grid(alpha=0.3)
    fig.tight_layout()
    return fig


def sorted_fault_levels(levels, fault="3ph", contingency=None, ax=None):
    """The fault level (largest phase current) of every bus, sorted, for one
    fault type; with a contingency_fault_levels result, its min-max range
    over the outages as a band around the base case."""
    fig, ax = _axes(ax, (9, 4))
    if contingency is not None:
        base = contingency.base[fault]
        order = np.argsort(base.to_numpy(), kind="stable")[::-1]
        x = np.arange(len(order))
        ax.fill_between(x, contingency.min[fault].to_numpy()[order], contingency.max[fault].to_numpy()[order],
                        step="mid", color="tab:orange", alpha=0.35, label="range over %d outages" % len(
                            contingency.outages))
        values = base.to_numpy()[order]
        unit = contingency.current_unit
    else:
        rows = levels.xs(fault, level="fault")
        unit = "/".join(sorted(set(rows["unit"])))
        values = np.sort(rows[["ia", "ib", "ic"]].max(axis=1).to_numpy())[::-1]
        x = np.arange(len(values))
    ax.step(x, values, where="mid", color="tab:blue", lw=1.2, label="base case")
    ax.set_xlabel("buses, by decreasing fault level")
    ax.set_ylabel("%s fault current (%s)" % (fault, unit))
    ax.set_title("Fault levels, %s" % fault)
    ax.legend(loc="best", fontsize="small")
    ax.grid(alpha=0.3)
    fig.tight_layout()
    return fig


def network(case, values=None, label="fault level", ax=None, positions=None, cmap="viridis"):
    """The network's buses and branches, buses coloured by values (a
    Series or dict by bus number, e.g. a fault level). Positions: given
    ({bus: (x, y)}), or a networkx spring layout with a fixed seed (case
    files carry no coordinates)."""
    case = study._case(case)
    net = case.network
    buses = net["bus_of_node"]
    graph = nx.Graph()
    graph.add_nodes_from(buses.tolist())
    graph.add_edges_from(zip(buses[net["from"] - 1].tolist(), buses[net["to"] - 1].tolist()))
    if positions is None:
        positions = nx.kamada_kawai_layout(graph) if len(buses) <= 400 else nx.spring_layout(
            graph, seed=LAYOUT_SEED, iterations=100)
    fig, ax = _axes(ax, (8, 8))
    nx.draw_networkx_edges(graph, positions, ax=ax, edge_color="0.7", width=0.6)
    nodes = list(graph.nodes)
    colour = None
    if values is not None:
        colour = [float(values[b]) for b in nodes]
    drawn = nx.draw_networkx_nodes(graph, positions, nodelist=nodes, node_color=colour if colour else "tab:blue",
                                   cmap=cmap, node_size=max(6, 3000 // max(len(nodes), 1)), ax=ax)
    if colour:
        fig.colorbar(drawn, ax=ax, shrink=0.7, label=label)
    ax.set_title("%s: %d buses, %d branches" % (case.name or case.source, len(nodes), len(net["from"])))
    ax.set_axis_off()
    fig.tight_layout()
    return fig
