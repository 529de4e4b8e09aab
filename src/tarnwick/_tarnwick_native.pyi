from collections.abc import Sequence
from typing import ClassVar, Self, final


# ---- module functions ----------------------------------------------------------

def bridge_version() -> str: ...

# ---- route identity and reference values ---------------------------------------

@final
class Plane:
    Read: ClassVar[Plane]
    Write: ClassVar[Plane]
    State: ClassVar[Plane]
    Query: ClassVar[Plane]
    Debug: ClassVar[Plane]
    @property
    def value(self) -> str: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class Layer:
    Raw: ClassVar[Layer]
    Logical: ClassVar[Layer]
    Shadow: ClassVar[Layer]
    Bulk: ClassVar[Layer]
    Internal: ClassVar[Layer]
    Ephemeral: ClassVar[Layer]
    @property
    def value(self) -> str: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class Variant:
    Meta: ClassVar[Variant]
    Payload: ClassVar[Variant]
    Request: ClassVar[Variant]
    Desired: ClassVar[Variant]
    Reported: ClassVar[Variant]
    Effective: ClassVar[Variant]
    Ack: ClassVar[Variant]
    State: ClassVar[Variant]
    QueryRequest: ClassVar[Variant]
    QueryResponse: ClassVar[Variant]
    Event: ClassVar[Variant]
    Health: ClassVar[Variant]
    @property
    def value(self) -> str: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ProducerKind:
    Device: ClassVar[ProducerKind]
    FirmwareAgent: ClassVar[ProducerKind]
    Transform: ClassVar[ProducerKind]
    ControlLoop: ClassVar[ProducerKind]
    Mailbox: ClassVar[ProducerKind]
    QueryService: ClassVar[ProducerKind]
    Application: ClassVar[ProducerKind]
    Bridge: ClassVar[ProducerKind]
    Reconciler: ClassVar[ProducerKind]
    LifecycleService: ClassVar[ProducerKind]
    @property
    def value(self) -> str: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class TaintDomain:
    Time: ClassVar[TaintDomain]
    Order: ClassVar[TaintDomain]
    Delivery: ClassVar[TaintDomain]
    Determinism: ClassVar[TaintDomain]
    Scheduling: ClassVar[TaintDomain]
    Trust: ClassVar[TaintDomain]
    Coherence: ClassVar[TaintDomain]
    @property
    def value(self) -> str: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class NamespaceRef:
    def __new__(cls, plane: Plane, layer: Layer, owner: str) -> Self: ...
    @property
    def plane(self) -> Plane: ...
    @property
    def layer(self) -> Layer: ...
    @property
    def owner(self) -> str: ...

@final
class SchemaRef:
    def __new__(cls, schema_id: str, version: int) -> Self: ...
    @property
    def schema_id(self) -> str: ...
    @property
    def version(self) -> int: ...

@final
class RouteRef:
    def __new__(
        cls, namespace: NamespaceRef, family: str, stream: str, variant: Variant, schema: SchemaRef
    ) -> Self: ...
    @property
    def namespace(self) -> NamespaceRef: ...
    @property
    def family(self) -> str: ...
    @property
    def stream(self) -> str: ...
    @property
    def variant(self) -> Variant: ...
    @property
    def schema(self) -> SchemaRef: ...
    def display(self) -> str: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    def __lt__(self, value: object, /) -> bool: ...
    def __le__(self, value: object, /) -> bool: ...
    def __gt__(self, value: object, /) -> bool: ...
    def __ge__(self, value: object, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class ProducerRef:
    def __new__(cls, producer_id: str, kind: ProducerKind) -> Self: ...
    @property
    def producer_id(self) -> str: ...
    @property
    def kind(self) -> ProducerKind: ...

@final
class RuntimeRef:
    def __new__(cls, runtime_id: str) -> Self: ...
    @property
    def runtime_id(self) -> str: ...

@final
class ClockDomainRef:
    def __new__(cls, clock_domain_id: str) -> Self: ...
    @property
    def clock_domain_id(self) -> str: ...

@final
class TaintMark:
    def __new__(cls, domain: TaintDomain, value_id: str, origin_id: str) -> Self: ...
    @property
    def domain(self) -> TaintDomain: ...
    @property
    def value_id(self) -> str: ...
    @property
    def origin_id(self) -> str: ...

@final
class ScheduleGuard:
    @staticmethod
    def wait_for_ack(route: RouteRef) -> ScheduleGuard: ...
    @staticmethod
    def not_before_epoch(epoch: int) -> ScheduleGuard: ...
    @property
    def expires_at_epoch(self) -> int | None: ...

# ---- payloads, envelopes, port descriptors, graph ------------------------------

# ---- mailboxes, bindings, control loops, materialisers -------------------------

# ---- architecture elements -----------------------------------------------------

# ---- clocks --------------------------------------------------------------------

# ---- FlatBuffer pads, stream store ---------------------------------------------

@final
class FlatBufferField:
    def __new__(cls, name: str, index: int, field_type: str) -> Self: ...
    @property
    def name(self) -> str: ...
    @property
    def index(self) -> int: ...
    @property
    def field_type(self) -> str: ...

@final
class FlatBufferTable:
    def __new__(cls, name: str, fields: Sequence[FlatBufferField]) -> Self: ...
    @property
    def name(self) -> str: ...
    @property
    def fields(self) -> list[FlatBufferField]: ...

# ---- observability, pub/sub runtime --------------------------------------------

@final
class LogRecordEnvelope:
    @property
    def severity_text(self) -> str: ...
    @property
    def logger_name(self) -> str: ...
    @property
    def body(self) -> str: ...
    @property
    def file_path(self) -> str: ...
    @property
    def attributes_json(self) -> str: ...
    @property
    def timestamp_ns(self) -> int: ...
    @property
    def line_number(self) -> int: ...

@final
class MetricHistogramRecord:
    @property
    def name(self) -> str: ...
    @property
    def unit(self) -> str: ...
    @property
    def explicit_bounds_json(self) -> str: ...
    @property
    def bucket_counts_json(self) -> str: ...
    @property
    def attributes_json(self) -> str: ...
    @property
    def timestamp_ns(self) -> int: ...
    @property
    def count(self) -> int: ...
    @property
    def sum(self) -> float: ...
    @property
    def min(self) -> float: ...
    @property
    def max(self) -> float: ...

@final
class ObservabilityRuntime:
    def __new__(cls, *, retained_records: int = 1024) -> Self: ...
    def record_log(
        self,
        severity_text: str,
        logger_name: str,
        body: str,
        *,
        file_path: str = ...,
        line_number: int = 0,
        attributes_json: str = ...,
        timestamp_ns: int | None = None,
    ) -> LogRecordEnvelope: ...
    def record_histogram(
        self,
        name: str,
        value: float,
        *,
        unit: str = ...,
        attributes_json: str = ...,
        timestamp_ns: int | None = None,
    ) -> MetricHistogramRecord: ...
    def set_buckets(self, buckets: Sequence[float]) -> None: ...
    def logs(self) -> list[LogRecordEnvelope]: ...
    def metrics(self) -> list[MetricHistogramRecord]: ...

# ---- in-memory pub/sub ---------------------------------------------------------

# ---- named locks ---------------------------------------------------------------
