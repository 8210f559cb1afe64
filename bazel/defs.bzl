"""varndel_models: one Bazel action per model, run by the installed build step.

    load("@varndel//bazel:defs.bzl", "varndel_models")

    varndel_models(
        name = "props",
        srcs = ["models/crate.obj", "models/barrel.fbx"],
        data = glob(["models/**"]),  # side files; default: each model's directory
        animated = False,
        flip_uvs = False,
        asset_root = "",             # package-relative
        output_directory = "",       # package-relative, below bazel-bin
    )

Each model is one action with one output, <output_directory>/<stem>.staticbin
(.animbin when animated): the bytes that `Varndel <animated> <flip> <model>`
writes when run in the asset root with the model's path relative to it, which
are also what the CMake function varndel_add_models gives.

The action sees only declared files, and the build step is told which they are:
an import that opens any other file (an OBJ's .mtl left out of data, say)
fails the action with a message naming the file, instead of compiling the
model without it. A model's action gets the data files in its own directory
and below it, and every data file that lies in no model's directory (shared
buffers, say): changing a side file reruns the models of that directory only.
"""

def _dirname(path):
    cut = path.rfind("/")
    return path[:cut] if cut >= 0 else ""

def _join(*parts):
    return "/".join([part for part in parts if part])

def _normalize(path, what):
    parts = []
    for part in path.split("/"):
        if part == "" or part == ".":
            continue
        if part == "..":
            if not parts:
                fail("%s leaves the workspace: %s" % (what, path))
            parts.pop()
        else:
            parts.append(part)
    return "/".join(parts)

def _is_below(path, directory):
    return directory == "" or path.startswith(directory + "/")

def _stem(basename):
    # The compiler's default output name: the file name cut before its last '.'.
    cut = basename.rfind(".")
    return basename[:cut] if cut >= 0 else basename

def _varndel_models_impl(ctx):
    package_dir = _join(ctx.label.workspace_root, ctx.label.package)
    root = _normalize(_join(package_dir, ctx.attr.asset_root), "asset_root")
    extension = ".animbin" if ctx.attr.animated else ".staticbin"
    model_dirs = [_dirname(src.path) for src in ctx.files.srcs]
    shared = [f for f in ctx.files.data if not [d for d in model_dirs if _is_below(f.path, d)]]

    outputs = []
    stems = {}
    for src, model_dir in zip(ctx.files.srcs, model_dirs):
        if not src.is_source:
            fail("%s: %s is generated; varndel_models compiles source files" % (ctx.label, src.short_path))
        if not _is_below(src.path, root):
            fail("%s: %s is not below the asset root %s" % (ctx.label, src.path, root or "."))
        relative = src.path[len(root) + 1:] if root else src.path
        stem = _stem(src.basename)

        # Stems that differ only in case would still collide on the file
        # systems of Windows and macOS.
        if stem.lower() in stems:
            fail("%s: %s and %s both compile to %s%s; give one of them another file name" %
                 (ctx.label, stems[stem.lower()], src.short_path, stem, extension))
        stems[stem.lower()] = src.short_path

        output = ctx.actions.declare_file(_join(ctx.attr.output_directory, stem + extension))
        inputs = [src] + [f for f in ctx.files.data if f != src and _is_below(f.path, model_dir)]
        inputs += [f for f in shared if f != src]
        input_list = ctx.actions.declare_file("_varndel/%s/%s.inputs" % (ctx.label.name, stem))
        ctx.actions.write(input_list, "".join([f.path + "\n" for f in inputs]))

        # Every path is relative to the execution root, so the command line is
        # the same on every machine. The log lands in an undeclared directory.
        args = ctx.actions.args()
        args.add("--inputs", input_list)
        if ctx.attr.optimize:
            args.add("--optimize")  # the GPU-order step, as varndel-opt runs it
        args.add("1" if ctx.attr.animated else "0")
        args.add("1" if ctx.attr.flip_uvs else "0")
        args.add(root or ".")
        args.add(relative)
        args.add(output)
        args.add(_join(ctx.bin_dir.path, package_dir, "_varndel_logs", ctx.label.name, stem))
        ctx.actions.run(
            executable = ctx.executable.tool,
            arguments = [args],
            inputs = inputs + [input_list],
            outputs = [output],
            mnemonic = "VarndelModel",
            progress_message = "Compiling model %s" % relative,
        )
        outputs.append(output)
    return [DefaultInfo(files = depset(outputs))]

_varndel_models = rule(
    implementation = _varndel_models_impl,
    attrs = {
        "srcs": attr.label_list(allow_files = True, mandatory = True, allow_empty = False),
        "data": attr.label_list(allow_files = True),
        "animated": attr.bool(),
        "flip_uvs": attr.bool(),
        "asset_root": attr.string(),
        "output_directory": attr.string(),
        "optimize": attr.bool(),
        "tool": attr.label(
            default = "@varndel_tools//:edge",
            executable = True,
            allow_single_file = True,
            cfg = "exec",
        ),
    },
)

def varndel_models(name, srcs, data = None, **kwargs):
    """Compiles each model of srcs; data defaults to every file below each model's directory."""
    if data == None:
        dirs = {}
        for src in srcs:
            if ":" not in src:
                dirs[_dirname(src)] = True
        data = native.glob(
            [_join(d, "**") for d in dirs],
            exclude = ["**/BUILD", "**/BUILD.bazel"],
        )
    _varndel_models(name = name, srcs = srcs, data = data, **kwargs)
