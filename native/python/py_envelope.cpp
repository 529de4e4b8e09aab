// Python faces of payload references and envelopes. A ClosedEnvelope shares
// the graph's immutable record; only getters copy, into fresh objects.
#include "python/py_envelope.hpp"

namespace tarnwick::py {
namespace {

// ---- PayloadRef --------------------------------------------------------------------

constexpr auto kPayloadRefNew =
    sig("PayloadRef", req("payload_id"), opt("logical_length_bytes", "0"), opt("codec_id", "..."),
        opt("inline_bytes", "..."));

PayloadRefCore payload_ref_new(const Args<4>& a) {
  std::string payload_id = to_text(a[0]);
  const std::uint64_t length =
      a[1].missing() ? 0 : extract_nonbool_u64(a[1].obj, "logical_length_bytes");
  std::string codec_id = a[2].missing() ? std::string(kIdentityCodec) : to_text(a[2]);
  std::string inline_bytes = a[3].missing() ? std::string() : to_bytes(a[3]);
  validate_nonblank_text("payload_id", payload_id);
  validate_nonblank_text("codec_id", codec_id);
  return {std::move(payload_id), length, std::move(codec_id), std::move(inline_bytes)};
}

// ---- ClosedEnvelope ----------------------------------------------------------------

constexpr auto kWithTaints = sig("with_taints", req("taints"));
constexpr auto kClose = sig("close");

SharedEnvelope envelope_with_taints(SharedEnvelope& e, const Args<1>& a) {
  return with_taints(*e, unbox_sequence<TaintMarkCore>(a[0]));
}

SharedEnvelope envelope_close(SharedEnvelope& e, const Args<0>&) { return e; }

SharedEnvelope opened_close(OpenedEnvelopeCore& o, const Args<0>&) { return o.closed; }

}  // namespace

SharedBytes to_payload(Arg a) {
  std::string_view view;
  if (bytes_view(a.obj, view)) return SharedBytes::copy_of(view);
  return SharedBytes::copy_of(to_bytes(a));
}

Ref envelope_or_none(SharedEnvelope envelope) {
  if (!envelope) return Ref::none();
  return box<SharedEnvelope>(std::move(envelope));
}

PyObject* define_payload_ref(PyObject* m) {
  return ClassDef<PayloadRefCore>("PayloadRef")
      .constructor<kPayloadRefNew, payload_ref_new>()
      .getter<[](const PayloadRefCore& p) { return p.payload_id; }>("payload_id")
      .getter<[](const PayloadRefCore& p) { return p.logical_length_bytes; }>(
          "logical_length_bytes")
      .getter<[](const PayloadRefCore& p) { return p.codec_id; }>("codec_id")
      .getter<[](const PayloadRefCore& p) { return to_py_bytes(p.inline_bytes); }>("inline_bytes")
      .build(m);
}

PyObject* define_closed_envelope(PyObject* m) {
  using E = SharedEnvelope;
  return ClassDef<E>("ClosedEnvelope")
      .getter<[](const E& e) { return e->route; }>("route")
      .getter<[](const E& e) { return e->producer; }>("producer")
      .getter<[](const E& e) { return RuntimeRefCore{*e->emitter}; }>("emitter")
      .getter<[](const E& e) { return e->seq_source; }>("seq_source")
      .getter<[](const E& e) { return e->control_epoch; }>("control_epoch")
      .getter<[](const E& e) { return e->payload.payload_id; }>("payload_id")
      .getter<[](const E& e) { return e->payload; }>("payload_ref")
      .getter<[](const E& e) { return to_py_bytes(e->payload.inline_bytes); }>("inline_payload")
      .getter<[](const E& e) { return !e->payload.inline_bytes.empty(); }>("has_inline_payload")
      .getter<[](const E& e) { return e->taints; }>("taints")
      .getter<[](const E& e) { return e->guards; }>("guards")
      .method<kWithTaints, envelope_with_taints>()
      .method<kClose, envelope_close>()
      .build(m);
}

PyObject* define_opened_envelope(PyObject* m) {
  return ClassDef<OpenedEnvelopeCore>("OpenedEnvelope")
      .getter<[](const OpenedEnvelopeCore& o) { return o.closed; }>("closed")
      .getter<[](const OpenedEnvelopeCore& o) { return to_py_bytes(o.payload.view()); }>("payload")
      .method<kClose, opened_close>()
      .build(m);
}

}  // namespace tarnwick::py
