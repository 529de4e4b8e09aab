#include "stream/pubsub_runtime_core.hpp"

#include <utility>

#include "stream/pad_columns.hpp"
#include "support/text.hpp"

namespace tarnwick {

Result<PubSubRuntimeCore> PubSubRuntimeCore::make(std::string name,
                                                  std::uint64_t retained_messages) {
  if (auto s = validate_nonblank_text("pubsub name", name); !s) return s.error();
  if (auto s = validate_retained_messages(retained_messages); !s) return s.error();
  InMemoryPubSubCore bus(retained_messages);
  std::string subscription = name + ".stream_processor";
  if (auto s = bus.subscribe("*", subscription, false); !s) return s.error();
  auto observability = ObservabilityRuntimeCore::make(retained_messages);
  if (!observability) return observability.error();
  auto processor = make_stream_state(retained_messages);
  if (!processor) return processor.error();
  return PubSubRuntimeCore(std::move(bus), std::move(observability).value(),
                           std::move(subscription), std::move(processor).value());
}

Result<PubSubDeliveryCore> PubSubRuntimeCore::publish(std::string topic, PayloadBytes payload,
                                                      PendingMetadata metadata) {
  const std::uint64_t payload_bytes = payload.size();
  auto delivery = bus_.publish(std::move(topic), std::move(payload));
  if (!delivery) return delivery.error();
  if (auto s = observability_.record_pubsub_publish(delivery->topic, payload_bytes,
                                                    delivery->subscriber_count());
      !s) {
    return Error::runtime(s.error().message);
  }
  if (metadata.empty()) {
    pending_.erase(delivery->offset);
  } else {
    pending_.insert_or_assign(delivery->offset, std::move(metadata));
  }
  return delivery;
}

Result<std::vector<DataStreamRecordCore>> PubSubRuntimeCore::drain() {
  auto polled = bus_.poll(processor_subscription_, std::nullopt);
  if (!polled) return polled.error();
  auto stored = processor_->with(
      [&](StreamStore& store) { return store_batch(store, polled.value()); });
  // Every message published so far has now been polled or dropped by the
  // bus's retention; metadata of either is never read again.
  pending_.clear();
  return stored;
}

// One transaction for the batch, committed on failure too, so that the rows
// written before a store failure stay. A decoding failure does not stop the
// batch: the cursor has already moved past these messages, so each one is
// stored (without the columns that could not be decoded) and the first such
// failure is reported once the batch is in.
Result<std::vector<DataStreamRecordCore>> PubSubRuntimeCore::store_batch(
    StreamStore& store, std::vector<PubSubMessageCore>& polled) {
  std::vector<DataStreamRecordCore> records;
  if (polled.empty()) return records;
  records.reserve(polled.size());
  auto batch = store.begin_writes(true);
  if (!batch) return batch.error();
  PadColumnWriter columns(store);
  std::optional<Error> decode_failure;
  for (PubSubMessageCore& message : polled) {
    PendingMetadata metadata;
    if (auto it = pending_.find(message.offset); it != pending_.end()) {
      metadata = std::move(it->second);
    }
    const FlatBufferTableCore* table = nullptr;
    if (metadata.pad_name) {
      if (auto it = pads_.find(*metadata.pad_name); it != pads_.end()) table = &it->second;
    }
    const std::uint64_t seq = store.next_sequence();
    DataStreamRecordCore record{std::move(message.topic), std::move(message.payload),
                                std::move(metadata.pad_name), std::move(metadata.key),
                                message.offset, seq,
                                metadata.event_time.value_or(static_cast<std::int64_t>(seq))};
    if (auto s = batch->insert(record); !s) return s.error();
    if (table != nullptr) {
      const DecodedFields decoded = decode_flatbuffer_fields(record.payload_view(), *table);
      if (auto s = columns.write(table->fields, decoded.values, record.topic, record.offset);
          !s) {
        return s.error();
      }
      if (decoded.error && !decode_failure) decode_failure = decoded.error;
    }
    if (auto s = batch->prune(record.offset); !s) return s.error();
    records.push_back(std::move(record));
  }
  if (auto s = batch->finish(); !s) return s.error();
  if (decode_failure) return *decode_failure;
  return records;
}

Status PubSubRuntimeCore::register_flatbuffer_pad(std::string pad_name,
                                                  FlatBufferTableCore table) {
  if (auto s = validate_nonblank_text("pad name", pad_name); !s) return s;
  if (auto s = check_pad_field_names(table); !s) return s;
  if (auto s = processor_->with([&](StreamStore& store) { return add_pad_columns(store, table); });
      !s) {
    return s;
  }
  pads_.insert_or_assign(std::move(pad_name), std::move(table));
  return {};
}

}  // namespace tarnwick
