// Python faces of route identity and the reference values.
#include "python/py_route.hpp"

#include "core/refs.hpp"
#include "python/binding/enum_type.hpp"

namespace tarnwick::py {
namespace {

// ---- NamespaceRef ------------------------------------------------------------

constexpr auto kNamespaceNew = sig("NamespaceRef", req("plane"), req("layer"), req("owner"));

NamespaceRefCore namespace_new(const Args<3>& a) {
  const Plane plane = to_enum<Plane>(a[0]);
  const Layer layer = to_enum<Layer>(a[1]);
  std::string owner = to_text(a[2]);
  validate_nonblank_text("owner", owner);
  return {plane, layer, std::move(owner)};
}

std::string namespace_repr(const NamespaceRefCore& ns) {
  return "NamespaceRef(plane='" + std::string(enum_name(ns.plane)) + "', layer='" +
         std::string(enum_name(ns.layer)) + "', owner='" + ns.owner + "')";
}

// ---- SchemaRef -----------------------------------------------------------------

constexpr auto kSchemaNew = sig("SchemaRef", req("schema_id"), req("version"));

SchemaRefCore schema_new(const Args<2>& a) {
  std::string schema_id = to_text(a[0]);
  PyObject* v = a[1].obj;
  std::uint32_t version = 0;
  if (!PyBool_Check(v) && PyLong_Check(v)) {
    const unsigned long long wide = PyLong_AsUnsignedLongLong(v);
    if (wide == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
      PyErr_Clear();
    } else if (wide <= 0xFFFFFFFFULL) {
      version = static_cast<std::uint32_t>(wide);
    }
  }
  if (version == 0) raise(PyExc_ValueError, "schema version must be a positive integer");
  validate_nonblank_text("schema_id", schema_id);
  return {std::move(schema_id), version};
}

// ---- RouteRef ------------------------------------------------------------------

constexpr auto kRouteNew = sig("RouteRef", req("namespace"), req("family"), req("stream"),
                               req("variant"), req("schema"));
constexpr auto kDisplay = sig("display");

RouteRefCore route_new(const Args<5>& a) {
  NamespaceRefCore ns = unbox<NamespaceRefCore>(a[0]);
  std::string family = to_text(a[1]);
  std::string stream = to_text(a[2]);
  const Variant variant = to_enum<Variant>(a[3]);
  SchemaRefCore schema = unbox<SchemaRefCore>(a[4]);
  return unwrap(RouteRefCore::make(std::move(ns), std::move(family), std::move(stream), variant,
                                   std::move(schema)));
}

PyObject* route_richcompare(PyObject* self, PyObject* other, int op) {
  return translate([&] {
    if (op != Py_EQ && op != Py_NE) raise(PyExc_TypeError, "RouteRef does not support ordering");
    const bool equal =
        is_instance<RouteRefCore>(other) && payload<RouteRefCore>(self) == payload<RouteRefCore>(other);
    return to_py_bool(equal == (op == Py_EQ));
  });
}

// ---- ProducerRef, RuntimeRef, ClockDomainRef -----------------------------------

constexpr auto kProducerNew = sig("ProducerRef", req("producer_id"), req("kind"));

ProducerRefCore producer_new(const Args<2>& a) {
  std::string id = to_text(a[0]);
  const ProducerKind kind = to_enum<ProducerKind>(a[1]);
  validate_nonblank_text("producer_id", id);
  return {std::move(id), kind};
}

constexpr auto kRuntimeNew = sig("RuntimeRef", req("runtime_id"));

RuntimeRefCore runtime_new(const Args<1>& a) {
  std::string id = to_text(a[0]);
  validate_nonblank_text("runtime_id", id);
  return {std::move(id)};
}

constexpr auto kClockDomainNew = sig("ClockDomainRef", req("clock_domain_id"));

ClockDomainRefCore clock_domain_new(const Args<1>& a) {
  std::string id = to_text(a[0]);
  validate_nonblank_text("clock_domain_id", id);
  return {std::move(id)};
}

// ---- TaintMark -------------------------------------------------------------------

constexpr auto kTaintNew = sig("TaintMark", req("domain"), req("value_id"), req("origin_id"));

TaintMarkCore taint_new(const Args<3>& a) {
  const TaintDomain domain = to_enum<TaintDomain>(a[0]);
  std::string value_id = to_text(a[1]);
  std::string origin_id = to_text(a[2]);
  validate_nonblank_text("value_id", value_id);
  validate_nonblank_text("origin_id", origin_id);
  return {domain, std::move(value_id), std::move(origin_id)};
}

// ---- ScheduleGuard ---------------------------------------------------------------

constexpr auto kWaitForAck = sig("wait_for_ack", req("route"));
constexpr auto kNotBeforeEpoch = sig("not_before_epoch", req("epoch"));

ScheduleGuardCore wait_for_ack(const Args<1>& a) {
  return {std::nullopt, WaitForAck{unbox<RouteRefCore>(a[0])}};
}

ScheduleGuardCore not_before_epoch(const Args<1>& a) {
  return {std::nullopt, NotBeforeEpoch{extract_nonbool_u64(a[0].obj, "epoch")}};
}

}  // namespace

PyObject* define_plane(PyObject* m) { return define_enum<Plane>(m); }
PyObject* define_layer(PyObject* m) { return define_enum<Layer>(m); }
PyObject* define_variant(PyObject* m) { return define_enum<Variant>(m); }
PyObject* define_producer_kind(PyObject* m) { return define_enum<ProducerKind>(m); }
PyObject* define_taint_domain(PyObject* m) { return define_enum<TaintDomain>(m); }

PyObject* define_namespace_ref(PyObject* m) {
  return ClassDef<NamespaceRefCore>("NamespaceRef")
      .constructor<kNamespaceNew, namespace_new>()
      .getter<[](const NamespaceRefCore& ns) { return ns.plane; }>("plane")
      .getter<[](const NamespaceRefCore& ns) { return ns.layer; }>("layer")
      .getter<[](const NamespaceRefCore& ns) { return ns.owner; }>("owner")
      .repr<namespace_repr>()
      .build(m);
}

PyObject* define_schema_ref(PyObject* m) {
  return ClassDef<SchemaRefCore>("SchemaRef")
      .constructor<kSchemaNew, schema_new>()
      .getter<[](const SchemaRefCore& s) { return s.schema_id; }>("schema_id")
      .getter<[](const SchemaRefCore& s) { return s.version; }>("version")
      .build(m);
}

PyObject* define_route_ref(PyObject* m) {
  return ClassDef<RouteRefCore>("RouteRef")
      .constructor<kRouteNew, route_new>()
      .getter<[](const RouteRefCore& r) { return r.ns(); }>("namespace")
      .getter<[](const RouteRefCore& r) { return r.family(); }>("family")
      .getter<[](const RouteRefCore& r) { return r.stream(); }>("stream")
      .getter<[](const RouteRefCore& r) { return r.variant(); }>("variant")
      .getter<[](const RouteRefCore& r) { return r.schema(); }>("schema")
      .method<kDisplay, [](RouteRefCore& r, const Args<0>&) { return r.display(); }>()
      .repr<[](const RouteRefCore& r) { return "RouteRef(" + r.display() + ")"; }>()
      .hash<[](const RouteRefCore& r) { return r.stable_hash(); }>()
      .richcompare(&route_richcompare)
      .build(m);
}

PyObject* define_producer_ref(PyObject* m) {
  return ClassDef<ProducerRefCore>("ProducerRef")
      .constructor<kProducerNew, producer_new>()
      .getter<[](const ProducerRefCore& p) { return p.producer_id; }>("producer_id")
      .getter<[](const ProducerRefCore& p) { return p.kind; }>("kind")
      .build(m);
}

PyObject* define_runtime_ref(PyObject* m) {
  return ClassDef<RuntimeRefCore>("RuntimeRef")
      .constructor<kRuntimeNew, runtime_new>()
      .getter<[](const RuntimeRefCore& r) { return r.runtime_id; }>("runtime_id")
      .build(m);
}

PyObject* define_clock_domain_ref(PyObject* m) {
  return ClassDef<ClockDomainRefCore>("ClockDomainRef")
      .constructor<kClockDomainNew, clock_domain_new>()
      .getter<[](const ClockDomainRefCore& c) { return c.clock_domain_id; }>("clock_domain_id")
      .build(m);
}

PyObject* define_taint_mark(PyObject* m) {
  return ClassDef<TaintMarkCore>("TaintMark")
      .constructor<kTaintNew, taint_new>()
      .getter<[](const TaintMarkCore& t) { return t.domain; }>("domain")
      .getter<[](const TaintMarkCore& t) { return t.value_id; }>("value_id")
      .getter<[](const TaintMarkCore& t) { return t.origin_id; }>("origin_id")
      .build(m);
}

PyObject* define_schedule_guard(PyObject* m) {
  return ClassDef<ScheduleGuardCore>("ScheduleGuard")
      .static_method<kWaitForAck, wait_for_ack>()
      .static_method<kNotBeforeEpoch, not_before_epoch>()
      .getter<[](const ScheduleGuardCore& g) { return g.expires_at_epoch; }>("expires_at_epoch")
      .build(m);
}

}  // namespace tarnwick::py
