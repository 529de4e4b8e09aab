// Python faces of the graph. Every method converts all its arguments, then
// takes the graph mutex for one core step, and builds Python objects only
// after releasing it.
#include "python/py_graph.hpp"

#include "python/py_envelope.hpp"

namespace tarnwick::py {
namespace {

struct WriteArgs {
  SharedBytes payload;
  ProducerRefCore producer;
  std::optional<std::uint64_t> epoch;
};

WriteArgs write_args(Arg payload, Arg producer, Arg epoch) {
  SharedBytes bytes = to_payload(payload);
  ProducerRefCore who =
      producer.missing() ? ProducerRefCore::python_default() : unbox<ProducerRefCore>(producer);
  return {std::move(bytes), std::move(who), extract_optional_control_epoch(epoch.obj)};
}

Ref envelope_list(const std::vector<SharedEnvelope>& envelopes) { return to_py(envelopes); }

// ---- Graph -----------------------------------------------------------------------

constexpr auto kGraphNew = sig("Graph");
constexpr auto kRegisterPort = sig("register_port", req("route"));
constexpr auto kRead = sig("read", req("route"));
constexpr auto kWritablePort = sig("writable_port", req("route"));
constexpr auto kEmit =
    sig("emit", req("route"), req("payload"), opt("producer"), opt("control_epoch"));
constexpr auto kEmitSingle = sig("emit_single_if_unrouted", req("route"), req("payload"),
                                 opt("producer"), opt("control_epoch"));
constexpr auto kLatest = sig("latest", req("route"));
constexpr auto kPayloadById = sig("payload_by_id", req("payload_id"));
constexpr auto kConfigureRetention =
    sig("configure_retention", req("route"), req("latest_replay_policy"), req("durability_class"),
        req("replay_window"), req("payload_retention_policy"), opt("history_limit"));
constexpr auto kRetentionSnapshot = sig("retention_snapshot", opt("route"));
constexpr auto kRetainedPayloadCount = sig("retained_payload_count", req("route"));
constexpr auto kRetentionViolations = sig("retention_violations");

GraphHandle graph_new(const Args<0>&) { return {make_graph_state()}; }

RouteRefCore graph_register_port(GraphHandle& g, const Args<1>& a) {
  const RouteRefCore& route = unbox<RouteRefCore>(a[0]);
  return lock_graph(*g.state, [&](GraphCore& core) { return core.register_port(route); });
}

template <class Handle>
Handle open_port(GraphHandle& g, const Args<1>& a) {
  const RouteRefCore& route = unbox<RouteRefCore>(a[0]);
  return {g.state,
          lock_graph(*g.state, [&](GraphCore& core) { return core.register_port(route); })};
}

Ref graph_emit(GraphHandle& g, const Args<4>& a) {
  const RouteRefCore& route = unbox<RouteRefCore>(a[0]);
  WriteArgs w = write_args(a[1], a[2], a[3]);
  return envelope_list(lock_graph(*g.state, [&](GraphCore& core) {
    return core.write(route, std::move(w.payload), std::move(w.producer), w.epoch);
  }));
}

Ref graph_emit_single(GraphHandle& g, const Args<4>& a) {
  const RouteRefCore& route = unbox<RouteRefCore>(a[0]);
  WriteArgs w = write_args(a[1], a[2], a[3]);
  return envelope_or_none(lock_graph(*g.state, [&](GraphCore& core) {
    return core.write_single_if_unrouted(route, std::move(w.payload), std::move(w.producer),
                                         w.epoch);
  }));
}

SharedEnvelope latest_of(GraphState& state, const RouteRefCore& route) {
  QueryResultCore result =
      lock_graph(state, [&](GraphCore& core) { return core.query(LatestRequest{route}); });
  auto* latest = std::get_if<LatestResult>(&result);
  if (latest == nullptr) raise(PyExc_RuntimeError, "unexpected latest response");
  return std::move(latest->envelope);
}

Ref graph_latest(GraphHandle& g, const Args<1>& a) {
  return envelope_or_none(latest_of(*g.state, unbox<RouteRefCore>(a[0])));
}

Ref graph_payload_by_id(GraphHandle& g, const Args<1>& a) {
  const std::string_view id = to_text_view(a[0]);
  validate_nonblank_text("payload_id", id);
  SharedBytes body = lock_graph(*g.state, [&](GraphCore& core) { return core.payload_by_id(id); });
  return body ? to_py_bytes(body.view()) : Ref::none();
}

void graph_configure_retention(GraphHandle& g, const Args<6>& a) {
  const RouteRefCore& route = unbox<RouteRefCore>(a[0]);
  RetentionPolicyCore policy{
      .history_limit = std::nullopt,
      .latest_replay_policy = to_text(a[1]),
      .durability_class = to_text(a[2]),
      .replay_window = to_text(a[3]),
      .payload_retention_policy = to_text(a[4]),
  };
  if (!a[5].missing()) policy.history_limit = to_u64(a[5]);
  validate_nonblank_text("latest_replay_policy", policy.latest_replay_policy);
  validate_nonblank_text("durability_class", policy.durability_class);
  validate_nonblank_text("replay_window", policy.replay_window);
  validate_nonblank_text("payload_retention_policy", policy.payload_retention_policy);
  lock_graph(*g.state,
             [&](GraphCore& core) { (void)core.configure_retention(route, std::move(policy)); });
}

std::vector<RetentionSnapshotCore> graph_retention_snapshot(GraphHandle& g, const Args<1>& a) {
  if (a[0].missing()) {
    return lock_graph(*g.state, [&](GraphCore& core) { return core.retention_snapshots(); });
  }
  const RouteRefCore& route = unbox<RouteRefCore>(a[0]);
  return {lock_graph(*g.state, [&](GraphCore& core) { return core.retention_snapshot(route); })};
}

std::uint64_t graph_retained_payload_count(GraphHandle& g, const Args<1>& a) {
  const RouteRefCore& route = unbox<RouteRefCore>(a[0]);
  return lock_graph(*g.state, [&](GraphCore& core) { return core.retained_payload_count(route); });
}

std::vector<std::string> graph_retention_violations(GraphHandle& g, const Args<0>&) {
  return lock_graph(*g.state, [&](GraphCore& core) { return core.retention_violations(); });
}

// ---- ports -----------------------------------------------------------------------

constexpr auto kMeta = sig("meta");
constexpr auto kPortLatest = sig("latest");
constexpr auto kOpen = sig("open");
constexpr auto kDescribe = sig("describe");
constexpr auto kWrite = sig("write", req("payload"), opt("producer"), opt("control_epoch"));

template <class Handle>
PortDescriptorCore port_describe(Handle& p, const Args<0>&) {
  return lock_graph(*p.state, [&](GraphCore& core) { return core.describe_port(p.route); });
}

Ref port_meta(ReadablePortHandle& p, const Args<0>&) {
  SharedEnvelope latest = latest_of(*p.state, p.route);
  std::vector<SharedEnvelope> out;
  if (latest) out.push_back(std::move(latest));
  return envelope_list(out);
}

Ref port_latest(ReadablePortHandle& p, const Args<0>&) {
  return envelope_or_none(latest_of(*p.state, p.route));
}

std::vector<OpenedEnvelopeCore> port_open(ReadablePortHandle& p, const Args<0>&) {
  auto opened = lock_graph(*p.state, [&](GraphCore& core) { return core.open_latest(p.route); });
  std::vector<OpenedEnvelopeCore> out;
  if (opened) out.push_back(std::move(*opened));
  return out;
}

Ref port_write(WritablePortHandle& p, const Args<3>& a) {
  WriteArgs w = write_args(a[0], a[1], a[2]);
  std::vector<SharedEnvelope> written = lock_graph(*p.state, [&](GraphCore& core) {
    return core.write(p.route, std::move(w.payload), std::move(w.producer), w.epoch);
  });
  return envelope_or_none(std::move(written.front()));
}

}  // namespace

PyObject* define_port_descriptor(PyObject* m) {
  using D = PortDescriptorCore;
  return ClassDef<D>("PortDescriptor")
      .getter<[](const D& d) { return d.identity.route.display(); }>("route_display")
      .getter<[](const D& d) { return d.identity.human_description; }>("human_description")
      .getter<[](const D& d) { return d.backpressure_policy(); }>("backpressure_policy")
      .getter<[](const D& d) { return d.schema.payload_open_policy; }>("payload_open_policy")
      .getter<[](const D& d) { return d.debug_enabled; }>("debug_enabled")
      .build(m);
}

PyObject* define_readable_port(PyObject* m) {
  return ClassDef<ReadablePortHandle>("ReadablePort")
      .method<kMeta, port_meta>()
      .method<kPortLatest, port_latest>()
      .method<kOpen, port_open>()
      .method<kDescribe, port_describe<ReadablePortHandle>>()
      .build(m);
}

PyObject* define_writable_port(PyObject* m) {
  return ClassDef<WritablePortHandle>("WritablePort")
      .method<kWrite, port_write>()
      .method<kDescribe, port_describe<WritablePortHandle>>()
      .build(m);
}

PyObject* define_retention_snapshot(PyObject* m) {
  using S = RetentionSnapshotCore;
  return ClassDef<S>("RetentionSnapshot")
      .getter<[](const S& s) { return s.latest_seq_source; }>("latest_seq_source")
      .getter<[](const S& s) { return s.history_limit; }>("history_limit")
      .getter<[](const S& s) { return s.route_display; }>("route_display")
      .getter<[](const S& s) { return s.metadata_event_count; }>("metadata_event_count")
      .getter<[](const S& s) { return s.replay_count; }>("replay_count")
      .getter<[](const S& s) { return s.payload_count; }>("payload_count")
      .getter<[](const S& s) { return s.lineage_count; }>("lineage_count")
      .getter<[](const S& s) { return s.trace_index_count; }>("trace_index_count")
      .getter<[](const S& s) { return s.causality_index_count; }>("causality_index_count")
      .getter<[](const S& s) { return s.correlation_index_count; }>("correlation_index_count")
      .build(m);
}

PyObject* define_graph(PyObject* m) {
  ClassDef<GraphHandle> def("Graph");
  def.constructor<kGraphNew, graph_new>()
      .method<kRegisterPort, graph_register_port>()
      .method<kRead, open_port<ReadablePortHandle>>()
      .method<kWritablePort, open_port<WritablePortHandle>>()
      .method<kEmit, graph_emit>()
      .method<kEmitSingle, graph_emit_single>()
      .method<kLatest, graph_latest>()
      .method<kPayloadById, graph_payload_by_id>()
      .method<kConfigureRetention, graph_configure_retention>()
      .method<kRetentionSnapshot, graph_retention_snapshot>()
      .method<kRetainedPayloadCount, graph_retained_payload_count>()
      .method<kRetentionViolations, graph_retention_violations>();
  add_routing_methods(def);
  add_materializer_methods(def);
  return def.build(m);
}

}  // namespace tarnwick::py
