// Python surface of the chain solver.
#include "ik/fabrik.hpp"
#include "module/bind.hpp"

// clang-format off: the registrations read as a table, laid out by hand

namespace core {
namespace {

using namespace py;

const Registration solve{"solve_ik", [](PyObject* m) {
    return function<&solve_ik>(
        m, "solve_ik(chain_positions, target, lengths, max_iter=10, tolerance=0.001)",
        "Solve a 2D kinematic chain using the FABRIK algorithm.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "chain_positions : list of (x, y) tuples\n"
        "    Joint positions ordered ``[root, j1, j2, ..., end_effector]``.\n"
        "target : (x, y)\n"
        "    Desired position for the end effector.\n"
        "lengths : list of float\n"
        "    Bone lengths; ``len(lengths)`` must equal ``len(chain_positions) - 1``.\n"
        "max_iter : int, optional\n"
        "    Maximum FABRIK iterations (default 10).\n"
        "tolerance : float, optional\n"
        "    Convergence distance threshold (default 0.001).\n"
        "\n"
        "Returns\n"
        "-------\n"
        "list of (x, y) tuples\n"
        "    Solved joint positions in the same order as the input.");
}};

const Registration bones{"compute_bone_lengths", [](PyObject* m) {
    return function<&compute_bone_lengths>(
        m, "compute_bone_lengths(positions)",
        "Compute bone lengths from a sequence of joint positions.\n"
        "\n"
        "Returns a list of distances between consecutive joints, with length\n"
        "``len(positions) - 1``. Returns an empty list for 0- or 1-element input.");
}};

}  // namespace
}  // namespace core
