"""A tour of the rigid-body world: a stack of boxes falls onto a static
floor, overlapping boxes are reported each step, and a ray finds them."""

from _core import BodyType, PhysicsWorld, RigidBody


def main():
    world = PhysicsWorld()
    world.set_gravity(0.0, -9.8, 0.0)  # metres; the default is (0, -980, 0)
    floor = RigidBody(0.0)  # zero mass: static, never moves
    world.add_body(floor)

    stack = []
    for level in range(4):
        box = RigidBody(1.0)
        box.set_position(0.0, 1.2 + 1.1 * level, 0.0)
        stack.append(world.add_body(box))
    print(world)
    print("the template body keeps handle 0:", repr(floor))

    # Broad phase only: boxes fall through each other, but every step says
    # which unit boxes overlap, in body order.
    # A ray along +y from below the floor: nearest hit first.
    hits = world.raycast(0.0, -10.0, 0.0, 0.0, 1.0, 0.0)
    print("ray hits (handle, distance):", [(h, round(t, 3)) for h, t in hits])

    for frame in range(1, 6):
        pairs = world.step(0.05)
        heights = ", ".join(f"{world.get_position(h)[1]:.2f}" for h in stack)
        print(f"frame {frame}: heights {heights}; overlapping {pairs}")

    # From inside a box a ray reports where it leaves; parallel rays outside a
    # slab miss.
    print("ray from the floor's centre:", world.raycast(0, 0, 0, 1, 0, 0))
    print("ray beside the stack:", world.raycast(2, -10, 0, 0, 1, 0))

    world.remove_body(stack[0])  # the last body moves into its slot
    print(
        "after removing",
        stack[0],
        "->",
        world,
        "; body",
        stack[0],
        "is",
        world.get_position(stack[0]),
    )
    print(
        "BodyType.Static == 2:",
        BodyType.Static == 2,
        "; int(BodyType.Kinematic) =",
        int(BodyType.Kinematic),
    )


if __name__ == "__main__":
    main()
