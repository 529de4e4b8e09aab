// Python faces of the in-memory bus and its records.
#include "python/py_pubsub.hpp"

#include "python/binding/classdef.hpp"
#include "support/text.hpp"

namespace tarnwick::py {

// bytes are copied straight into the shared body; other byte strings go
// through the general conversion first.
PayloadBytes to_payload_bytes(Arg a) {
  std::string_view view;
  if (bytes_view(a.obj, view)) return PayloadBytes(view);
  return PayloadBytes(to_bytes(a));
}

namespace {

// ---- PubSubMessage -----------------------------------------------------------

constexpr auto kMessageNew = sig("PubSubMessage", req("topic"), req("payload"), opt("offset", "0"));

PubSubMessageCore message_new(const Args<3>& a) {
  std::string topic = to_text(a[0]);
  PayloadBytes payload = to_payload_bytes(a[1]);
  const std::uint64_t offset = a[2].missing() ? 0 : to_u64(a[2]);
  unwrap(validate_pubsub_message(topic, payload.view()));
  return {std::move(topic), std::move(payload), offset};
}

std::string message_repr(const PubSubMessageCore& m) {
  return "PubSubMessage(topic=" + debug_quote(m.topic) + ", offset=" + std::to_string(m.offset) +
         ", payload_len=" + std::to_string(m.payload_view().size()) + ")";
}

// ---- PubSubSubscription, PubSubDelivery ------------------------------------------

std::string subscription_repr(const PubSubSubscriptionCore& s) {
  return "PubSubSubscription(name=" + debug_quote(s.name) + ", topic=" + debug_quote(s.topic) + ")";
}

std::string delivery_repr(const PubSubDeliveryCore& d) {
  return "PubSubDelivery(topic=" + debug_quote(d.topic) + ", offset=" + std::to_string(d.offset) +
         ", subscriber_count=" + std::to_string(d.subscriber_count()) + ")";
}

// ---- InMemoryPubSub ----------------------------------------------------------------

constexpr auto kBusNew = sig("InMemoryPubSub", kwonly("retained_messages", "1024"));
constexpr auto kPublish = sig("publish", req("topic"), req("payload"));
constexpr auto kSubscribe = sig("subscribe", req("topic"), kwonly("name", "None"),
                                kwonly("replay_from_beginning", "False"));
constexpr auto kPoll = sig("poll", req("subscription"), kwonly("max_messages", "None"));
constexpr auto kUnsubscribe = sig("unsubscribe", req("subscription"));
constexpr auto kLatest = sig("latest", opt("topic"));
constexpr auto kTopicOffsets = sig("topic_offsets");

PubSubState bus_new(const Args<1>& a) {
  const std::uint64_t retained = a[0].missing() ? 1024 : to_u64(a[0]);
  unwrap(validate_retained_messages(retained));
  return std::make_shared<Guarded<InMemoryPubSubCore>>(kPubSubPoisoned, retained);
}

PubSubDeliveryCore publish(PubSubState& state, const Args<2>& a) {
  std::string topic = to_text(a[0]);
  PayloadBytes payload = to_payload_bytes(a[1]);
  return lock_pubsub(state, [&](InMemoryPubSubCore& bus) {
    return bus.publish(std::move(topic), std::move(payload));
  });
}

PubSubSubscriptionCore subscribe(PubSubState& state, const Args<3>& a) {
  std::string topic = to_text(a[0]);
  std::optional<std::string> name;
  if (!a[1].missing()) name = to_text(a[1]);
  const bool replay = !a[2].missing() && to_bool(a[2]);
  return lock_pubsub(state, [&](InMemoryPubSubCore& bus) {
    return bus.subscribe(std::move(topic), std::move(name), replay);
  });
}

Ref poll(PubSubState& state, const Args<2>& a) {
  const std::string_view name = to_text_view(a[0]);
  std::optional<std::uint64_t> max_messages;
  if (!a[1].missing()) max_messages = to_u64(a[1]);
  std::vector<PubSubMessageCore> messages =
      lock_pubsub(state, [&](InMemoryPubSubCore& bus) { return bus.poll(name, max_messages); });
  Ref list = checked(PyList_New(static_cast<Py_ssize_t>(messages.size())));
  for (std::size_t i = 0; i < messages.size(); ++i) {
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), box(std::move(messages[i])).release());
  }
  return list;
}

bool unsubscribe(PubSubState& state, const Args<1>& a) {
  const std::string_view name = to_text_view(a[0]);
  return lock_pubsub(state, [&](InMemoryPubSubCore& bus) { return bus.unsubscribe(name); });
}

std::optional<PubSubMessageCore> latest(PubSubState& state, const Args<1>& a) {
  std::optional<std::string_view> topic;
  if (!a[0].missing()) topic = to_text_view(a[0]);
  return lock_pubsub(state, [&](InMemoryPubSubCore& bus) { return bus.latest(topic); });
}

Ref topic_offsets(PubSubState& state, const Args<0>&) {
  auto offsets = lock_pubsub(state, [](InMemoryPubSubCore& bus) {
    return Result<std::map<std::string, std::uint64_t>>(bus.topic_offsets());
  });
  Ref dict = checked(PyDict_New());
  for (const auto& [topic, offset] : offsets) {
    if (PyDict_SetItem(dict.get(), to_py(topic).get(), to_py(offset).get()) != 0) {
      throw_python_error();
    }
  }
  return dict;
}

// Reads one counter of the bus under its mutex.
template <auto Member>
std::uint64_t bus_count(const PubSubState& state) {
  return lock_pubsub(state, [](InMemoryPubSubCore& bus) {
    return Result<std::uint64_t>(static_cast<std::uint64_t>((bus.*Member)()));
  });
}

}  // namespace

PyObject* define_pubsub_message(PyObject* m) {
  return ClassDef<PubSubMessageCore>("PubSubMessage")
      .constructor<kMessageNew, message_new>()
      .getter<[](const PubSubMessageCore& msg) { return msg.topic; }>("topic")
      .getter<[](const PubSubMessageCore& msg) { return to_py_bytes(msg.payload_view()); }>(
          "payload")
      .getter<[](const PubSubMessageCore& msg) { return msg.offset; }>("offset")
      .repr<message_repr>()
      .build(m);
}

PyObject* define_pubsub_subscription(PyObject* m) {
  return ClassDef<PubSubSubscriptionCore>("PubSubSubscription")
      .getter<[](const PubSubSubscriptionCore& s) { return s.name; }>("name")
      .getter<[](const PubSubSubscriptionCore& s) { return s.topic; }>("topic")
      .repr<subscription_repr>()
      .build(m);
}

PyObject* define_pubsub_delivery(PyObject* m) {
  return ClassDef<PubSubDeliveryCore>("PubSubDelivery")
      .getter<[](const PubSubDeliveryCore& d) { return d.topic; }>("topic")
      .getter<[](const PubSubDeliveryCore& d) { return d.offset; }>("offset")
      .getter<[](const PubSubDeliveryCore& d) {
        return d.delivered_to ? to_py(*d.delivered_to) : checked(PyList_New(0));
      }>("delivered_to")
      .getter<[](const PubSubDeliveryCore& d) { return d.subscriber_count(); }>("subscriber_count")
      .repr<delivery_repr>()
      .build(m);
}

PyObject* define_in_memory_pubsub(PyObject* m) {
  return ClassDef<PubSubState>("InMemoryPubSub")
      .constructor<kBusNew, bus_new>()
      .method<kPublish, publish>()
      .method<kSubscribe, subscribe>()
      .method<kPoll, poll>()
      .method<kUnsubscribe, unsubscribe>()
      .method<kLatest, latest>()
      .method<kTopicOffsets, topic_offsets>()
      .getter<bus_count<&InMemoryPubSubCore::message_count>>("message_count")
      .getter<bus_count<&InMemoryPubSubCore::subscriber_count>>("subscriber_count")
      .getter<bus_count<&InMemoryPubSubCore::retained_messages>>("retained_messages")
      .build(m);
}

}  // namespace tarnwick::py
