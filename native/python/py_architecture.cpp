// Python faces of the architecture element records.
#include "python/py_architecture.hpp"

#include <optional>

#include "core/architecture.hpp"
#include "python/binding/classdef.hpp"

namespace tarnwick::py {
namespace {

std::optional<std::uint64_t> optional_count(Arg a) {
  if (a.missing()) return std::nullopt;
  return to_u64(a);
}

// ---- ArchitecturePad ---------------------------------------------------------------

constexpr auto kPadNew = sig("ArchitecturePad", req("name"), req("topic"), opt("direction", "..."));

ArchitecturePadCore pad_new(const Args<3>& a) {
  std::string name = to_text(a[0]);
  std::string topic = to_text(a[1]);
  std::string direction = a[2].missing() ? std::string("internal") : to_text(a[2]);
  return unwrap(ArchitecturePadCore::make(std::move(name), std::move(topic), std::move(direction)));
}

PyObject* pad_richcompare(PyObject* self, PyObject* other, int op) {
  return translate([&] {
    if (!is_instance<ArchitecturePadCore>(other)) return Ref::borrow(Py_NotImplemented);
    if (op != Py_EQ && op != Py_NE) {
      raise(PyExc_TypeError, "pads only support equality comparison");
    }
    const bool equal = payload<ArchitecturePadCore>(self) == payload<ArchitecturePadCore>(other);
    return to_py_bool(equal == (op == Py_EQ));
  });
}

// ---- the other elements ---------------------------------------------------------------

constexpr auto kViaNew =
    sig("ArchitectureVia", req("name"), req("source"), req("target"), req("boundary"));

ArchitectureViaCore via_new(const Args<4>& a) {
  std::string name = to_text(a[0]);
  std::string source = to_text(a[1]);
  std::string target = to_text(a[2]);
  std::string boundary = to_text(a[3]);
  return unwrap(ArchitectureViaCore::make(std::move(name), std::move(source), std::move(target),
                                          std::move(boundary)));
}

constexpr auto kProbeNew = sig("ArchitectureProbe", req("name"), req("target"));

ArchitectureProbeCore probe_new(const Args<2>& a) {
  std::string name = to_text(a[0]);
  std::string target = to_text(a[1]);
  return unwrap(ArchitectureProbeCore::make(std::move(name), std::move(target)));
}

constexpr auto kRelayNew = sig("ArchitectureRelay", req("name"), req("source"), req("target"));

ArchitectureRelayCore relay_new(const Args<3>& a) {
  std::string name = to_text(a[0]);
  std::string source = to_text(a[1]);
  std::string target = to_text(a[2]);
  return unwrap(ArchitectureRelayCore::make(std::move(name), std::move(source), std::move(target)));
}

constexpr auto kGroundNew = sig("ArchitectureGround", req("name"), req("reason"));

ArchitectureGroundCore ground_new(const Args<2>& a) {
  std::string name = to_text(a[0]);
  std::string reason = to_text(a[1]);
  return unwrap(ArchitectureGroundCore::make(std::move(name), std::move(reason)));
}

constexpr auto kResistorNew = sig("ArchitectureResistor", req("name"), req("boundary"),
                                  req("policy"), opt("limit"));

ArchitectureResistorCore resistor_new(const Args<4>& a) {
  std::string name = to_text(a[0]);
  std::string boundary = to_text(a[1]);
  std::string policy = to_text(a[2]);
  const std::optional<std::uint64_t> limit = optional_count(a[3]);
  return unwrap(ArchitectureResistorCore::make(std::move(name), std::move(boundary),
                                               std::move(policy), limit));
}

constexpr auto kCapacitorNew = sig("ArchitectureCapacitor", req("name"), req("source"),
                                   req("target"), opt("capacity", "1"), opt("location"));

ArchitectureCapacitorCore capacitor_new(const Args<5>& a) {
  std::string name = to_text(a[0]);
  std::string source = to_text(a[1]);
  std::string target = to_text(a[2]);
  const std::uint64_t capacity = a[3].missing() ? 1 : to_u64(a[3]);
  std::optional<std::string> location;
  if (!a[4].missing()) location = to_text(a[4]);
  return unwrap(ArchitectureCapacitorCore::make(std::move(name), std::move(source),
                                                std::move(target), capacity, std::move(location)));
}

constexpr auto kRegulatorNew =
    sig("ArchitectureRegulator", req("name"), req("policy"), opt("limit"));

ArchitectureRegulatorCore regulator_new(const Args<3>& a) {
  std::string name = to_text(a[0]);
  std::string policy = to_text(a[1]);
  const std::optional<std::uint64_t> limit = optional_count(a[2]);
  return unwrap(ArchitectureRegulatorCore::make(std::move(name), std::move(policy), limit));
}

template <class T>
std::string element_repr(const T& element) {
  return element.repr();
}

}  // namespace

PyObject* define_architecture_pad(PyObject* m) {
  using T = ArchitecturePadCore;
  return ClassDef<T>("ArchitecturePad")
      .constructor<kPadNew, pad_new>()
      .getter<[](const T& e) { return e.name; }>("name")
      .getter<[](const T& e) { return e.topic; }>("topic")
      .getter<[](const T& e) { return e.direction; }>("direction")
      .repr<element_repr<T>>()
      .richcompare(&pad_richcompare)
      .unhashable()
      .build(m);
}

PyObject* define_architecture_relay(PyObject* m) {
  using T = ArchitectureRelayCore;
  return ClassDef<T>("ArchitectureRelay")
      .constructor<kRelayNew, relay_new>()
      .getter<[](const T& e) { return e.name; }>("name")
      .getter<[](const T& e) { return e.source; }>("source")
      .getter<[](const T& e) { return e.target; }>("target")
      .repr<element_repr<T>>()
      .build(m);
}

PyObject* define_architecture_via(PyObject* m) {
  using T = ArchitectureViaCore;
  return ClassDef<T>("ArchitectureVia")
      .constructor<kViaNew, via_new>()
      .getter<[](const T& e) { return e.name; }>("name")
      .getter<[](const T& e) { return e.source; }>("source")
      .getter<[](const T& e) { return e.target; }>("target")
      .getter<[](const T& e) { return e.boundary; }>("boundary")
      .repr<element_repr<T>>()
      .build(m);
}

PyObject* define_architecture_regulator(PyObject* m) {
  using T = ArchitectureRegulatorCore;
  return ClassDef<T>("ArchitectureRegulator")
      .constructor<kRegulatorNew, regulator_new>()
      .getter<[](const T& e) { return e.name; }>("name")
      .getter<[](const T& e) { return e.policy; }>("policy")
      .getter<[](const T& e) { return e.limit; }>("limit")
      .build(m);
}

PyObject* define_architecture_ground(PyObject* m) {
  using T = ArchitectureGroundCore;
  return ClassDef<T>("ArchitectureGround")
      .constructor<kGroundNew, ground_new>()
      .getter<[](const T& e) { return e.name; }>("name")
      .getter<[](const T& e) { return e.reason; }>("reason")
      .repr<element_repr<T>>()
      .build(m);
}

PyObject* define_architecture_probe(PyObject* m) {
  using T = ArchitectureProbeCore;
  return ClassDef<T>("ArchitectureProbe")
      .constructor<kProbeNew, probe_new>()
      .getter<[](const T& e) { return e.name; }>("name")
      .getter<[](const T& e) { return e.target; }>("target")
      .repr<element_repr<T>>()
      .build(m);
}

PyObject* define_architecture_capacitor(PyObject* m) {
  using T = ArchitectureCapacitorCore;
  return ClassDef<T>("ArchitectureCapacitor")
      .constructor<kCapacitorNew, capacitor_new>()
      .getter<[](const T& e) { return e.name; }>("name")
      .getter<[](const T& e) { return e.source; }>("source")
      .getter<[](const T& e) { return e.target; }>("target")
      .getter<[](const T& e) { return e.capacity; }>("capacity")
      .getter<[](const T& e) { return e.location; }>("location")
      .build(m);
}

PyObject* define_architecture_resistor(PyObject* m) {
  using T = ArchitectureResistorCore;
  return ClassDef<T>("ArchitectureResistor")
      .constructor<kResistorNew, resistor_new>()
      .getter<[](const T& e) { return e.name; }>("name")
      .getter<[](const T& e) { return e.boundary; }>("boundary")
      .getter<[](const T& e) { return e.policy; }>("policy")
      .getter<[](const T& e) { return e.limit; }>("limit")
      .build(m);
}

}  // namespace tarnwick::py
