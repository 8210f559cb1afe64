"""help(varndel): every public function, class, method and property says what it does, and says the same as the
type stubs beside the module."""
import ast
import inspect
import re

import varndel

from conftest import SOURCE


def runtime_docs():
    """{"name" or "Class.member": the text help() shows beneath the signature}."""
    def text(name, obj):
        doc = (obj.fget if isinstance(obj, property) and not obj.__doc__ else obj).__doc__ or ""
        # pybind11 puts the signature on the first line: "name(arg: type, ...) -> type".
        return re.sub(r"\A%s\(.*\)( -> .*)?\n" % re.escape(name), "", doc).strip()

    docs = {}
    for name in dir(varndel):
        obj = getattr(varndel, name)
        if name.startswith("_") or inspect.ismodule(obj):
            continue
        docs[name] = text(name, obj)
        if inspect.isclass(obj) and not issubclass(obj, BaseException):
            for member, value in vars(obj).items():
                # A class without a constructor has only pybind11's stand-in, which refuses every call.
                constructor = member == "__init__" and (value.__doc__ or "").startswith("__init__(")
                if not member.startswith("_") or constructor:
                    docs[f"{name}.{member}"] = text(member, value)
    return docs


def stub_docs():
    """The same map from varndel.pyi: docstrings of classes, functions and properties, and the string after an
    annotated attribute."""
    docs = {}

    def walk(prefix, body):
        for i, node in enumerate(body):
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                if ast.get_docstring(node):
                    docs[prefix + node.name] = ast.get_docstring(node)
                if isinstance(node, ast.ClassDef):
                    walk(f"{prefix}{node.name}.", node.body)
            elif isinstance(node, ast.AnnAssign) and i + 1 < len(body):
                after = body[i + 1]
                if isinstance(after, ast.Expr) and isinstance(after.value, ast.Constant):
                    docs[prefix + node.target.id] = inspect.cleandoc(after.value.value)

    walk("", ast.parse((SOURCE / "python" / "varndel.pyi").read_text()).body)
    return docs


def words(text):
    return " ".join(text.split())


def test_every_public_name_has_a_docstring_that_the_stubs_repeat():
    runtime, stubs = runtime_docs(), stub_docs()
    # Spot checks that the walk sees what help() shows: functions, classes, properties, methods, constructors.
    for name in ("compile", "read", "Model", "Model.path", "Track.position_max_time", "AnimationPlayer.evaluate",
                 "AnimationPlayer.__init__", "MappedModel.to_model", "FormatError"):
        assert name in runtime, name
    assert not [name for name, doc in runtime.items() if not doc], "no docstring"
    assert {name: words(doc) for name, doc in runtime.items()} == {
        name: words(stubs.get(name, "(not in varndel.pyi)")) for name in runtime}
