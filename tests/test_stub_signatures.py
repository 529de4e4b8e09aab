"""The type stub and the module agree on every constructor and method signature.

Each class's text signature is checked against the stub's __new__, and every
method against its stub definition, parameter names, kinds and defaults alike.
"""

import ast
import inspect
import pathlib

import pytest

from tarnwick import _tarnwick_native as native

STUB = pathlib.Path(native.__file__).with_name("_tarnwick_native.pyi")
if not STUB.exists():  # running from a build tree
    STUB = pathlib.Path(__file__).parents[1] / "src" / "tarnwick" / "_tarnwick_native.pyi"


def _stub_tree():
    return ast.parse(STUB.read_text())


def _stub_params(fn: ast.FunctionDef, drop_first: bool):
    a = fn.args
    positional = a.posonlyargs + a.args
    if drop_first:
        positional = positional[1:]
    defaults = [None] * (len(positional) - len(a.defaults)) + list(a.defaults)
    out = [
        (p.arg, "positional", _default_text(d)) for p, d in zip(positional, defaults, strict=True)
    ]
    out += [
        (p.arg, "keyword", _default_text(d))
        for p, d in zip(a.kwonlyargs, a.kw_defaults, strict=True)
    ]
    return out


def _default_text(node):
    if node is None:
        return None
    return "..." if isinstance(node, ast.Constant) and node.value is Ellipsis else ast.unparse(node)


def _runtime_params(obj, drop_first: bool):
    params = list(inspect.signature(obj).parameters.values())
    if drop_first:
        params = params[1:]
    out = []
    for p in params:
        kind = "keyword" if p.kind is inspect.Parameter.KEYWORD_ONLY else "positional"
        if p.default is inspect.Parameter.empty:
            default = None
        elif p.default is Ellipsis:
            default = "..."
        else:
            default = repr(p.default)
        out.append((p.name, kind, default))
    return out


def _cases():
    for node in _stub_tree().body:
        if not isinstance(node, ast.ClassDef):
            continue
        for item in node.body:
            if isinstance(item, ast.FunctionDef) and (
                item.name == "__new__" or not item.name.startswith("__")
            ):
                decorators = {ast.unparse(d) for d in item.decorator_list}
                if "property" in decorators:
                    continue
                yield pytest.param(
                    node.name, item, "staticmethod" in decorators, id=f"{node.name}.{item.name}"
                )


@pytest.mark.parametrize("class_name,fn,is_static", list(_cases()))
def test_signature_matches_stub(class_name, fn, is_static):
    cls = getattr(native, class_name)
    if fn.name == "__new__":
        assert _runtime_params(cls, False) == _stub_params(fn, True)
    else:
        runtime = getattr(cls, fn.name)
        assert _runtime_params(runtime, not is_static) == _stub_params(fn, not is_static)


def test_functions_match_stub():
    for node in _stub_tree().body:
        if isinstance(node, ast.FunctionDef):
            assert _runtime_params(getattr(native, node.name), False) == _stub_params(node, False)


def test_classes_without_constructor_cannot_be_built():
    for node in _stub_tree().body:
        if isinstance(node, ast.ClassDef):
            has_init = any(
                isinstance(i, ast.FunctionDef) and i.name == "__new__" for i in node.body
            )
            cls = getattr(native, node.name)
            if not has_init:
                assert cls.__doc__ in ("", None)
                with pytest.raises(TypeError):
                    cls()
