// The module's init entry point and its one registration table.
#include "python/binding/classdef.hpp"
#include "python/py_architecture.hpp"
#include "python/py_envelope.hpp"
#include "python/py_flatbuffer.hpp"
#include "python/py_graph.hpp"
#include "python/py_locks.hpp"
#include "python/py_observability.hpp"
#include "python/py_pubsub.hpp"
#include "python/py_pubsub_runtime.hpp"
#include "python/py_route.hpp"
#include "python/py_stream.hpp"
#include "python/py_time.hpp"

namespace tarnwick::py {
namespace {

constexpr auto kBridgeVersion = sig("bridge_version");

Ref bridge_version(const Args<0>&) {
  static PyObject* const version = PyUnicode_InternFromString("0.1.42");
  return Ref::borrow(version);
}

PyObject* define_bridge_version(PyObject* m) { return define_function<kBridgeVersion, bridge_version>(m); }

struct Entry {
  const char* name;
  PyObject* (*define)(PyObject* module);
};

// Module attributes, added in this order and nothing else.
constexpr Entry kRegistrationTable[] = {
    {"bridge_version", define_bridge_version},
    {"parse_sql_statement", define_parse_sql_statement},
    {"Plane", define_plane},
    {"Layer", define_layer},
    {"Variant", define_variant},
    {"ProducerKind", define_producer_kind},
    {"TaintDomain", define_taint_domain},
    {"NamespaceRef", define_namespace_ref},
    {"SchemaRef", define_schema_ref},
    {"RouteRef", define_route_ref},
    {"ProducerRef", define_producer_ref},
    {"RuntimeRef", define_runtime_ref},
    {"ClockDomainRef", define_clock_domain_ref},
    {"PayloadRef", define_payload_ref},
    {"TaintMark", define_taint_mark},
    {"ScheduleGuard", define_schedule_guard},
    {"ClosedEnvelope", define_closed_envelope},
    {"OpenedEnvelope", define_opened_envelope},
    {"PortDescriptor", define_port_descriptor},
    {"ReadablePort", define_readable_port},
    {"WritablePort", define_writable_port},
    {"RetentionSnapshot", define_retention_snapshot},
    {"ArchitecturePad", define_architecture_pad},
    {"ArchitectureRelay", define_architecture_relay},
    {"ArchitectureVia", define_architecture_via},
    {"ArchitectureRegulator", define_architecture_regulator},
    {"ArchitectureGround", define_architecture_ground},
    {"ArchitectureProbe", define_architecture_probe},
    {"ArchitectureCapacitor", define_architecture_capacitor},
    {"ArchitectureResistor", define_architecture_resistor},
    {"ClockCalibrationSample", define_clock_calibration_sample},
    {"SystemTimeProvider", define_system_time_provider},
    {"NtpTimeProvider", define_ntp_time_provider},
    {"MonotonicLogicalClock", define_monotonic_logical_clock},
    {"Clock", define_clock},
    {"CalibratedClock", define_calibrated_clock},
    {"FlatBufferField", define_flatbuffer_field},
    {"FlatBufferTable", define_flatbuffer_table},
    {"DataStreamRecord", define_data_stream_record},
    {"DataStreamProcessor", define_data_stream_processor},
    {"LogRecordEnvelope", define_log_record_envelope},
    {"MetricHistogramRecord", define_metric_histogram_record},
    {"ObservabilityRuntime", define_observability_runtime},
    {"PubSubRuntime", define_pubsub_runtime},
    {"PubSubMessage", define_pubsub_message},
    {"PubSubSubscription", define_pubsub_subscription},
    {"PubSubDelivery", define_pubsub_delivery},
    {"InMemoryPubSub", define_in_memory_pubsub},
    {"TarnwickLock", define_tarnwick_lock},
    {"TarnwickLockLease", define_tarnwick_lock_lease},
    {"Graph", define_graph},
};

int exec_module(PyObject* module) {
  if (auto s = create_invariant_failure_type(); !s.ok()) return -1;
  for (const Entry& entry : kRegistrationTable) {
    PyObject* value = entry.define(module);
    if (value == nullptr) return -1;
    const int rc = PyModule_AddObjectRef(module, entry.name, value);
    Py_DECREF(value);
    if (rc != 0) return -1;
  }
  return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "_tarnwick_native", "", 0, nullptr, kSlots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace tarnwick::py

PyMODINIT_FUNC PyInit__tarnwick_native() { return PyModuleDef_Init(&tarnwick::py::kModule); }
