// Python faces of the stream store and of SQL statement classification.
#include "python/py_stream.hpp"

#include "python/binding/classdef.hpp"
#include "python/stream_sql.hpp"
#include "stream/sql_statement.hpp"

namespace tarnwick::py {
namespace {

// ---- parse_sql_statement -------------------------------------------------------

constexpr auto kParseSql = sig("parse_sql_statement", req("sql"));

Ref parse_sql(const Args<1>& a) {
  const SqlStatementInfo info = unwrap(parse_sql_statement(to_text_view(a[0])));
  Ref dict = checked(PyDict_New());
  if (PyDict_SetItemString(dict.get(), "kind", to_py(info.kind).get()) != 0 ||
      PyDict_SetItemString(dict.get(), "sql", to_py(info.sql).get()) != 0) {
    throw_python_error();
  }
  return dict;
}

// ---- DataStreamProcessor ---------------------------------------------------------

constexpr auto kProcessorNew = sig("DataStreamProcessor", kwonly("retained_messages", "1024"));
constexpr auto kIngest =
    sig("ingest", req("message"), kwonly("event_time", "None"), kwonly("key", "None"));
constexpr auto kIngestMany = sig("ingest_many", req("messages"));
constexpr auto kLatest = sig("latest", req("topic"));
constexpr auto kQuery = sig("query", req("sql"), opt("parameters"));
constexpr auto kQueryOne = sig("query_one", req("sql"), opt("parameters"));

StreamHandle processor_new(const Args<1>& a) {
  const std::uint64_t retained = a[0].missing() ? 1024 : to_u64(a[0]);
  return unwrap(make_stream_state(retained));
}

DataStreamRecordCore ingest(StreamHandle& state, const Args<3>& a) {
  const PubSubMessageCore message = unbox<PubSubMessageCore>(a[0]);
  std::optional<std::int64_t> event_time;
  if (!a[1].missing()) event_time = to_i64(a[1]);
  std::optional<std::string> key;
  if (!a[2].missing()) key = to_text(a[2]);
  return lock_stream_processor(state, [&](StreamStore& store) {
    return store.ingest(message, event_time, std::move(key));
  });
}

std::vector<DataStreamRecordCore> ingest_many(StreamHandle& state, const Args<1>& a) {
  const std::vector<PubSubMessageCore> messages = unbox_sequence<PubSubMessageCore>(a[0]);
  return lock_stream_processor(state,
                               [&](StreamStore& store) { return store.ingest_many(messages); });
}

std::optional<DataStreamRecordCore> latest(StreamHandle& state, const Args<1>& a) {
  const std::string_view topic = to_text_view(a[0]);
  return lock_stream_processor(state, [&](StreamStore& store) { return store.latest(topic); });
}

Ref query(StreamHandle& state, const Args<2>& a) {
  return query_stream_processor(state, convert_stream_query_args(a[0], a[1]));
}

Ref query_one(StreamHandle& state, const Args<2>& a) {
  return query_one_stream_processor(state, convert_stream_query_args(a[0], a[1]),
                                    "stream processor SQL returned more than one row");
}

}  // namespace

PyObject* define_parse_sql_statement(PyObject* m) { return define_function<kParseSql, parse_sql>(m); }

PyObject* define_data_stream_record(PyObject* m) {
  using R = DataStreamRecordCore;
  return ClassDef<R>("DataStreamRecord")
      .getter<[](const R& r) { return r.topic; }>("topic")
      .getter<[](const R& r) { return to_py_bytes(r.payload_view()); }>("payload")
      .getter<[](const R& r) { return r.pad_name; }>("pad_name")
      .getter<[](const R& r) { return r.key; }>("key")
      .getter<[](const R& r) { return r.offset; }>("offset")
      .getter<[](const R& r) { return r.process_sequence; }>("process_sequence")
      .getter<[](const R& r) { return r.event_time; }>("event_time")
      .getter<[](const R& r) {
        return checked(PyNumber_Add(to_py(r.offset).get(), to_py(1).get()));
      }>("seq_source")
      .build(m);
}

PyObject* define_data_stream_processor(PyObject* m) {
  return ClassDef<StreamHandle>("DataStreamProcessor")
      .constructor<kProcessorNew, processor_new>()
      .mutating_method<kIngest, ingest>()
      .mutating_method<kIngestMany, ingest_many>()
      .method<kLatest, latest>()
      .method<kQuery, query>()
      .method<kQueryOne, query_one>()
      .build(m);
}

}  // namespace tarnwick::py
