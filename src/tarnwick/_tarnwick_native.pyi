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

@final
class ClockCalibrationSample:
    def __new__(
        cls, observed_ns: int, reference_ns: int, temperature_c: float | None = None
    ) -> Self: ...
    @property
    def observed_ns(self) -> int: ...
    @property
    def reference_ns(self) -> int: ...
    @property
    def temperature_c(self) -> float | None: ...

@final
class SystemTimeProvider:
    def __new__(cls) -> Self: ...
    def now_ns(self) -> int: ...

@final
class NtpTimeProvider:
    def __new__(cls, server: str, *, port: int = 123, timeout_ms: int = 1000) -> Self: ...
    @property
    def server(self) -> str: ...
    @property
    def port(self) -> int: ...
    @property
    def timeout_ms(self) -> int: ...
    def now_ns(self) -> int: ...

@final
class MonotonicLogicalClock:
    def __new__(cls) -> Self: ...
    def tick(self) -> int: ...

@final
class Clock:
    def __new__(cls) -> Self: ...
    def tick(self) -> int: ...

@final
class CalibratedClock:
    def __new__(cls, samples: Sequence[ClockCalibrationSample]) -> Self: ...
    @property
    def samples(self) -> list[ClockCalibrationSample]: ...
    def now_ns(self) -> int: ...

# ---- FlatBuffer pads, stream store ---------------------------------------------

# ---- observability, pub/sub runtime --------------------------------------------

# ---- in-memory pub/sub ---------------------------------------------------------

# ---- named locks ---------------------------------------------------------------
