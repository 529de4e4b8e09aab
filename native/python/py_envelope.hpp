#pragma once

#include "core/envelope.hpp"
#include "python/binding/classdef.hpp"

namespace tarnwick::py {

PyObject* define_payload_ref(PyObject* module);
PyObject* define_closed_envelope(PyObject* module);
PyObject* define_opened_envelope(PyObject* module);

// A payload argument as a body: bytes are copied once, straight in.
SharedBytes to_payload(Arg a);

// A ClosedEnvelope for the envelope, or None for a null one.
Ref envelope_or_none(SharedEnvelope envelope);

}  // namespace tarnwick::py
