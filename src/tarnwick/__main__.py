"""A short tour of tarnwick: `python -m tarnwick`."""

import argparse

import tarnwick as tw

DESCRIPTION = """\
Tours the typed route model: builds routes for an IMU and a valve, shows
their display texts and stable hashes, and shows how invalid routes and
values are refused with exact messages.
"""


def table(title, headers, rows):
    widths = [max(len(str(c)) for c in col) for col in zip(headers, *rows, strict=True)]
    print(f"\n{title}")
    print("  " + "  ".join(h.ljust(w) for h, w in zip(headers, widths, strict=True)))
    print("  " + "  ".join("-" * w for w in widths))
    for row in rows:
        print("  " + "  ".join(str(c).ljust(w) for c, w in zip(row, widths, strict=True)))


def route(plane, layer, owner, family, stream, variant, schema_id, version):
    ns = tw.NamespaceRef(plane, layer, owner)
    return tw.RouteRef(ns, family, stream, variant, tw.SchemaRef(schema_id, version))


def tour():
    print(f"tarnwick {tw.bridge_version()}")
    routes = [
        route(tw.Plane.Read, tw.Layer.Raw, "imu", "accel", "x", tw.Variant.Payload, "imu.accel", 1),
        route(tw.Plane.Write, tw.Layer.Logical, "valve7", "position", "main",
              tw.Variant.Request, "valve.pos", 3),
        route(tw.Plane.Write, tw.Layer.Shadow, "valve7", "position", "main",
              tw.Variant.Desired, "valve.pos", 3),
        route(tw.Plane.State, tw.Layer.Logical, "arm", "joint", "elbow", tw.Variant.State,
              "arm.joint", 2),
    ]
    table(
        "Routes",
        ["display", "plane", "variant", "hash"],
        [(r.display(), r.namespace.plane.value, r.variant.value, hash(r)) for r in routes],
    )

    attempts = [
        ("read route with a request variant", lambda: route(
            tw.Plane.Read, tw.Layer.Raw, "imu", "accel", "x", tw.Variant.Request, "s", 1)),
        ("write request in the shadow layer", lambda: route(
            tw.Plane.Write, tw.Layer.Shadow, "valve7", "position", "main",
            tw.Variant.Request, "s", 1)),
        ("blank family", lambda: route(
            tw.Plane.Read, tw.Layer.Raw, "imu", "  ", "x", tw.Variant.Payload, "s", 1)),
        ("schema version 0", lambda: tw.SchemaRef("s", 0)),
        ("guard epoch True", lambda: tw.ScheduleGuard.not_before_epoch(True)),
    ]
    rows = []
    for label, attempt in attempts:
        try:
            attempt()
            rows.append((label, "accepted", ""))
        except (TypeError, ValueError) as error:
            rows.append((label, type(error).__name__, error))
    table("Refused values", ["attempt", "error", "message"], rows)

    producer = tw.ProducerRef("valve-controller", tw.ProducerKind.ControlLoop)
    taint = tw.TaintMark(tw.TaintDomain.Scheduling, "SCHED_READY", routes[1].display())
    table(
        "Reference values",
        ["value", "fields"],
        [
            ("ProducerRef", f"{producer.producer_id} / {producer.kind!r}"),
            ("TaintMark", f"{taint.domain.value} {taint.value_id} from {taint.origin_id}"),
            ("ScheduleGuard", f"wait for ack, expires {tw.ScheduleGuard.wait_for_ack(routes[2]).expires_at_epoch}"),  # noqa: E501
        ],
    )


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m tarnwick", description=DESCRIPTION)
    parser.parse_args(argv)
    tour()
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
