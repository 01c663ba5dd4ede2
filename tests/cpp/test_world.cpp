// Handle bookkeeping of the physics world across the 32-bit counter wrap,
// checked against the pure core (2^32 add_body calls through Python are out
// of reach).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "check.hpp"
#include "common/interrupt.hpp"
#include "physics/world.hpp"

namespace {

uint32_t add_at(core::PhysicsWorld& w, float x) {
    core::RigidBody b(1.0f);
    b.set_position(x, 0.0f, 0.0f);
    return w.add_body(b);
}

// Every live handle names the body it was given to, and the array holds
// exactly the live bodies.
void check_consistent(const core::PhysicsWorld& w, const std::map<uint32_t, float>& live) {
    CHECK(w.body_count() == live.size());
    std::set<uint32_t> in_array;
    for (const core::RigidBody& b : w.bodies()) in_array.insert(b.handle);
    CHECK(in_array.size() == live.size());
    for (const auto& [h, x] : live) {
        const auto p = w.get_position(h);
        CHECK(p.has_value() && (*p)[0] == x);
        CHECK(in_array.count(h) == 1);
    }
}

void wrap_skips_live_handles() {
    core::PhysicsWorld w;
    CHECK(add_at(w, 1) == 1);
    CHECK(add_at(w, 2) == 2);
    CHECK(add_at(w, 3) == 3);
    w.set_next_handle(UINT32_MAX - 1);
    CHECK(add_at(w, 4) == UINT32_MAX - 1);
    CHECK(add_at(w, 5) == UINT32_MAX);
    CHECK(add_at(w, 6) == 0);  // 0 is free, so it is issued after the wrap
    CHECK(add_at(w, 7) == 4);  // 1, 2 and 3 are still live
    CHECK(add_at(w, 8) == 5);
    w.remove_body(2);
    w.set_next_handle(1);
    CHECK(add_at(w, 9) == 2);  // a freed handle may come back
    check_consistent(
        w, {{1, 1}, {2, 9}, {3, 3}, {UINT32_MAX - 1, 4}, {UINT32_MAX, 5}, {0, 6}, {4, 7}, {5, 8}});
}

// Random adds and removes with the counter kept near live handles: a handle
// is never issued twice while live, and swap-remove never repoints one.
void random_churn_near_the_wrap() {
    std::mt19937 rng(42);
    core::PhysicsWorld w;
    std::map<uint32_t, float> live;
    float next_x = 0.0f;
    for (int round = 0; round < 20000; ++round) {
        const unsigned op = rng() % 10;
        if (op < 5) {
            const uint32_t h = add_at(w, next_x);
            CHECK(live.count(h) == 0);
            live[h] = next_x;
            next_x += 1.0f;
        } else if (op < 8 && !live.empty()) {
            auto it = live.begin();
            std::advance(it, rng() % live.size());
            w.remove_body(it->first);
            live.erase(it);
        } else {
            // Jump the counter onto or just before a live handle, or to the wrap.
            if (!live.empty() && rng() % 2 == 0) {
                auto it = live.begin();
                std::advance(it, rng() % live.size());
                w.set_next_handle(it->first - rng() % 3);
            } else {
                w.set_next_handle(UINT32_MAX - rng() % 4);
            }
        }
        if (round % 500 == 0) check_consistent(w, live);
    }
    check_consistent(w, live);
}

void step_reports_each_pair_once_after_wrap() {
    core::PhysicsWorld w;
    w.set_gravity(0, 0, 0);
    add_at(w, 0.0f);  // handle 1
    w.set_next_handle(UINT32_MAX);
    CHECK(add_at(w, 0.5f) == UINT32_MAX);
    CHECK(add_at(w, 1.0f) == 0);
    CHECK(add_at(w, 10.0f) == 2);  // skips live handle 1
    const auto pairs = w.step(0.0f);
    CHECK(pairs.size() == 3);
    w.remove_body(1);  // handle 2 moves into slot 0
    const auto p = w.get_position(2);
    CHECK(p.has_value() && (*p)[0] == 10.0f);
    CHECK(w.step(0.0f).size() == 1);
}

// A step stopped by an interrupt anywhere in the search for pairs has not
// moved anything: the integrated states only replace the old ones once the
// pairs are complete. Every poll of a crowded step is tried in turn, and the
// polls must reach past the grid query into the ordering of the pairs.
int g_polls = 0;
int g_stop_at = 0;  // 0: never

void interrupted_step_changes_nothing() {
    constexpr int kBodies = 400;  // one cell, 79800 pairs
    auto crowd = [] {
        core::PhysicsWorld w;
        for (int i = 0; i < kBodies; ++i) add_at(w, 0.0f);
        return w;
    };
    core::interrupt_requested = []() noexcept { return ++g_polls == g_stop_at; };
    core::PhysicsWorld counted = crowd();
    counted.step(0.5f);
    const int polls = g_polls;
    CHECK(polls > kBodies / 16);  // more than the query's own polls
    for (int k = 1; k <= polls; ++k) {
        core::PhysicsWorld w = crowd();
        g_polls = 0;
        g_stop_at = k;
        bool interrupted = false;
        try {
            w.step(0.5f);
        } catch (const core::Interrupted&) {
            interrupted = true;
        }
        CHECK(interrupted);
        for (uint32_t h = 1; h <= kBodies; ++h) {
            const auto p = w.get_position(h);
            CHECK(p.has_value() && (*p)[1] == 0.0f);
        }
    }
    core::interrupt_requested = nullptr;
    core::PhysicsWorld w = crowd();
    CHECK(w.step(0.5f).size() == kBodies * (kBodies - 1) / 2);
    const auto p = w.get_position(1);
    CHECK(p.has_value() && (*p)[1] == -245.0f);  // 0.5 * (-980 * 0.5)
}

// The bulk calls against loops of the single ones on a twin world, near the
// counter's wrap too; then each stopped at every poll, leaving the world as
// it was (the same bodies in the same order, each found by its handle, and
// the same handle issued next).
std::vector<std::pair<uint32_t, float>> snapshot(const core::PhysicsWorld& w) {
    std::vector<std::pair<uint32_t, float>> out;
    for (const core::RigidBody& b : w.bodies()) {
        CHECK(w.find(b.handle) == &b);
        out.emplace_back(b.handle, b.position[0]);
    }
    return out;
}

void bulk_calls_match_loops_and_stop_cleanly() {
    std::mt19937 rng(7);
    for (const uint32_t start : {1u, UINT32_MAX - 40000u}) {
        core::PhysicsWorld a, b;
        a.set_next_handle(start);
        b.set_next_handle(start);
        for (int i = 0; i < 50; ++i) add_at(a, -1.0f), add_at(b, -1.0f);
        a.set_next_handle(1);  // live handles 1..50 (or near the top) ahead
        b.set_next_handle(1);
        std::vector<core::RigidBody> bodies(40000, core::RigidBody(2.0f));
        for (std::size_t i = 0; i < bodies.size(); ++i) bodies[i].set_position(float(i), 0, 0);
        std::vector<uint32_t> handles(bodies.size());
        a.add_bodies(bodies, handles);
        for (std::size_t i = 0; i < bodies.size(); ++i) CHECK(b.add_body(bodies[i]) == handles[i]);
        CHECK(snapshot(a) == snapshot(b));

        std::vector<uint32_t> gone;
        for (int i = 0; i < 30000; ++i) gone.push_back(handles[rng() % handles.size()] + rng() % 2);
        a.remove_bodies(gone);
        for (const uint32_t h : gone) b.remove_body(h);
        CHECK(snapshot(a) == snapshot(b));

        std::vector<int64_t> rows(handles.size());
        for (const std::size_t n : {handles.size(), std::size_t{3}}) {  // a table, then the index
            a.find_rows(std::span(handles).first(n), std::span(rows).first(n));
            for (std::size_t j = 0; j < n; ++j) {
                const core::RigidBody* found = a.find(handles[j]);
                CHECK(rows[j] == (found ? found - a.bodies().data() : -1));
            }
        }

        // From 1, every live handle now lies below the counter: the next
        // ones are handed out without a search (past the wrap they are not).
        std::vector<uint32_t> more(1000);
        a.add_bodies(std::span(bodies).first(more.size()), more);
        for (std::size_t i = 0; i < more.size(); ++i) CHECK(b.add_body(bodies[i]) == more[i]);
        CHECK(snapshot(a) == snapshot(b));

        std::vector<uint32_t> live;
        for (const core::RigidBody& body : a.bodies()) live.push_back(body.handle);
        const auto adding = [&](core::PhysicsWorld& w) { w.add_bodies(bodies, handles); };
        const auto removing = [&](core::PhysicsWorld& w) { w.remove_bodies(live); };
        core::interrupt_requested = []() noexcept { return ++g_polls == g_stop_at; };
        for (const auto& op : {std::function<void(core::PhysicsWorld&)>(adding), {removing}}) {
            core::PhysicsWorld counted = a;
            g_polls = g_stop_at = 0;
            op(counted);
            const int polls = g_polls;
            CHECK(polls >= 1);
            for (g_stop_at = 1; g_stop_at <= polls; ++g_stop_at) {
                core::PhysicsWorld w = a;
                g_polls = 0;
                bool stopped = false;
                try {
                    op(w);
                } catch (const core::Interrupted&) {
                    stopped = true;
                }
                CHECK(stopped && snapshot(w) == snapshot(a));
                core::PhysicsWorld untouched = a;
                CHECK(add_at(w, 0) == add_at(untouched, 0));
            }
        }
        core::interrupt_requested = nullptr;
        g_polls = g_stop_at = 0;
        CHECK(add_at(a, 0) == add_at(b, 0));
    }
}

}  // namespace

void run_world_tests() {
    bulk_calls_match_loops_and_stop_cleanly();
    interrupted_step_changes_nothing();
    wrap_skips_live_handles();
    random_churn_near_the_wrap();
    step_reports_each_pair_once_after_wrap();
}
