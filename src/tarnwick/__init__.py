"""Typed data plane for device and robot control code."""

from tarnwick import _tarnwick_native
from tarnwick._tarnwick_native import *  # noqa: F403  (re-exports the native names)

__all__ = [name for name in vars(_tarnwick_native) if not name.startswith("_")]
__version__ = _tarnwick_native.bridge_version()
