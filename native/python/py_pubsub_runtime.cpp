// Python face of the runtime that feeds a bus into a SQL-queryable store.
#include "python/py_pubsub_runtime.hpp"

#include "python/binding/classdef.hpp"
#include "python/py_pubsub.hpp"
#include "python/stream_sql.hpp"
#include "stream/pubsub_runtime_core.hpp"

namespace tarnwick::py {
namespace {

using Core = PubSubRuntimeCore;

constexpr auto kNew =
    sig("PubSubRuntime", kwonly("name", "..."), kwonly("retained_messages", "1024"));

Core runtime_new(const Args<2>& a) {
  std::string name = a[0].missing() ? "pubsub" : to_text(a[0]);
  const std::uint64_t retained =
      a[1].missing() ? Core::kDefaultRetainedMessages : to_u64(a[1]);
  return unwrap(Core::make(std::move(name), retained));
}

constexpr auto kPublish = sig("publish", req("topic"), req("payload"), kwonly("pad_name", "None"),
                              kwonly("event_time", "None"), kwonly("key", "None"));

PubSubDeliveryCore publish(Core& core, const Args<5>& a) {
  std::string topic = to_text(a[0]);
  PayloadBytes payload = to_payload_bytes(a[1]);
  PendingMetadata metadata{to_optional(a[2], to_text), to_optional(a[3], to_i64),
                           to_optional(a[4], to_text)};
  return unwrap(core.publish(std::move(topic), std::move(payload), std::move(metadata)));
}

constexpr auto kDrain = sig("drain");

std::vector<DataStreamRecordCore> drain(Core& core, const Args<0>&) { return unwrap(core.drain()); }

constexpr auto kLatest = sig("latest", req("topic"));

std::optional<DataStreamRecordCore> latest(Core& core, const Args<1>& a) {
  const std::string_view topic = to_text_view(a[0]);
  unwrap(core.drain());
  return lock_stream_processor(core.processor(),
                               [&](StreamStore& store) { return store.latest(topic); });
}

constexpr auto kQuery = sig("query", req("sql"), opt("parameters"));
constexpr auto kQueryOne = sig("query_one", req("sql"), opt("parameters"));

// The gate runs after the drain, so even a refused text stores what was published.
Ref query(Core& core, const Args<2>& a) {
  const StreamQueryArgs args = convert_stream_query_args(a[0], a[1]);
  unwrap(core.drain());
  return query_stream_processor(core.processor(), args);
}

Ref query_one(Core& core, const Args<2>& a) {
  const StreamQueryArgs args = convert_stream_query_args(a[0], a[1]);
  unwrap(core.drain());
  return query_one_stream_processor(core.processor(), args, "board SQL returned more than one row");
}

constexpr auto kRegisterPad = sig("register_flatbuffer_pad", req("pad_name"), req("table"));

void register_pad(Core& core, const Args<2>& a) {
  std::string pad_name = to_text(a[0]);
  FlatBufferTableCore table = unbox<FlatBufferTableCore>(a[1]);
  unwrap(core.register_flatbuffer_pad(std::move(pad_name), std::move(table)));
}

constexpr auto kLogs = sig("observability_logs");
constexpr auto kMetrics = sig("observability_metrics");

}  // namespace

PyObject* define_pubsub_runtime(PyObject* m) {
  return ClassDef<Core>("PubSubRuntime")
      .constructor<kNew, runtime_new>()
      .mutating_method<kPublish, publish>()
      .mutating_method<kDrain, drain>()
      .mutating_method<kLatest, latest>()
      .mutating_method<kQuery, query>()
      .mutating_method<kQueryOne, query_one>()
      .mutating_method<kRegisterPad, register_pad>()
      .method<kLogs, [](Core& c, const Args<0>&) { return to_py(c.observability().logs()); }>()
      .method<kMetrics,
              [](Core& c, const Args<0>&) { return to_py(c.observability().metrics()); }>()
      .build(m);
}

}  // namespace tarnwick::py
