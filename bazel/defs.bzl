"""varndel_models: one Bazel action per model, run by the installed build step;
varndel_report: one HTML page over compiled models (varndel-inspect report).

    load("@varndel//bazel:defs.bzl", "varndel_models", "varndel_report")

    varndel_models(
        name = "props",
        srcs = ["models/crate.obj", "models/barrel.fbx"],
        data = glob(["models/**"]),  # side files; default: each model's directory
        animated = False,
        flip_uvs = False,
        asset_root = "",             # package-relative
        output_directory = "",       # package-relative, below bazel-bin
        optimize = False,            # the GPU-order step
        animation_tolerance = "",    # with optimize: drop animation keys within this many model units
        animation_distance = "",     # with animation_tolerance: where orientations are measured (model units)
        extract_textures = False,    # also <stem>.textures/, the embedded images
        animations = [],             # with animated: takes also compiled into <stem>.<take>.animbin
        clips_only = False,          # with animations: take files without meshes
    )

    varndel_report(
        name = "library",
        models = [":props", ":characters"],  # varndel_models targets or compiled files
        out = "",                            # default: <name>.html
    )

Each model is one action with one output, <output_directory>/<stem>.staticbin
(.animbin when animated): the bytes that `Varndel <animated> <flip> <model>`
writes when run in the asset root with the model's path relative to it, which
are also what the CMake function varndel_add_models gives. With
extract_textures, the action also fills the directory <stem>.textures beside
it (a tree artifact) with each embedded texture that the model references.
With animations = ["walk", "run"], the action also writes <stem>.walk.animbin
and <stem>.run.animbin (each take compiled as if it were the file's first
animation; see docs/takes.md) and their record <stem>.takes.txt. Bazel
declares outputs before the build, so each entry is a take's name that the
safe-name rule keeps as it is (lower case, digits, '_', '-'); the action fails
when no single take has that name.

The action sees only declared files, and the build step is told which they are
and which other files exist in the package: an import that opens an undeclared
file of the package (an OBJ's .mtl left out of data, say) fails the action with
a message naming the file, instead of compiling the model without it, while a
file that exists nowhere in the package (an optional companion that an
importer merely probes for) is absent, as in a direct run. Both lists name
files relative to the execution root, so every execution strategy (sandboxed,
local, remote) gives the same answer and the same bytes. A model's action gets
the data files in its own directory and below it, and every data file that
lies in no model's directory (shared buffers, say): changing a side file
reruns the models of that directory only. Every action also takes the tools'
fingerprint (see repositories.bzl), so the cache key covers Assimp.
"""

# Never model inputs: Bazel's convenience links (at the workspace root), a
# direct run's log and outputs, and the build files.
_NOT_DATA = [
    "bazel-*/**",
    "**/Logs/**",
    "**/*.staticbin",
    "**/*.animbin",
    "**/BUILD",
    "**/BUILD.bazel",
    "WORKSPACE",
    "WORKSPACE.bazel",
]

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

def _ancestors(path):
    """The directories that hold path: "a/b/c" gives "", "a" and "a/b"."""
    parts = path.split("/")[:-1]
    return ["/".join(parts[:i]) for i in range(len(parts) + 1)]

def _is_below(path, directory):
    return directory == "" or path.startswith(directory + "/")

def _stem(basename):
    # The compiler's default output name: the file name cut before its last '.'.
    cut = basename.rfind(".")
    return basename[:cut] if cut >= 0 else basename

_TAKE_NAME_CHARACTERS = "abcdefghijklmnopqrstuvwxyz0123456789_-"
_DEVICE_NAMES = ["con", "prn", "aux", "nul"] + ["com%d" % n for n in range(10)] + ["lpt%d" % n for n in range(10)]

# A take name whose file name is known before the build: one the safe-name
# rule keeps (lower case, digits, '_', '-'), not only digits (an index), not
# "all", not a Windows device name.
def _check_take_name(label, name):
    if (not name or [c for c in name.elems() if c not in _TAKE_NAME_CHARACTERS] or name.isdigit() or
        name == "all" or name in _DEVICE_NAMES):
        fail(("%s: animations entry %r is not a plain take name (lower case, digits, '_', '-'; not only " +
              "digits, not 'all'): Bazel declares each take's file before the build; select other takes " +
              "with varndel_add_models or varndel-edge") % (label, name))

def _varndel_models_impl(ctx):
    package_dir = _join(ctx.label.workspace_root, ctx.label.package)
    root = _normalize(_join(package_dir, ctx.attr.asset_root), "asset_root")
    extension = ".animbin" if ctx.attr.animated else ".staticbin"
    model_dirs = [_dirname(src.path) for src in ctx.files.srcs]
    shared = [f for f in ctx.files.data if not [d for d in model_dirs if _is_below(f.path, d)]]

    # The files a model is told exist, for telling an undeclared read from a
    # probe: those below its directory and those in no model's directory
    # (one list per directory, so that a file added beside one model reruns
    # the models of that directory only).
    below = {d: [] for d in model_dirs}
    elsewhere = []
    for name in ctx.attr.existing:
        path = _join(package_dir, name)
        owners = [d for d in _ancestors(path) if d in below]
        for d in owners:
            below[d].append(path)
        if not owners:
            elsewhere.append(path)
    existing_lists = {}
    for index, d in enumerate(sorted(below.keys())):
        existing_lists[d] = ctx.actions.declare_file("_varndel/%s/%d.existing" % (ctx.label.name, index))
        ctx.actions.write(existing_lists[d], "".join([path + "\n" for path in below[d] + elsewhere]))

    # A number, as varndel_add_models takes it; the build step checks its value.
    tolerance = ctx.attr.animation_tolerance
    if tolerance and not ctx.attr.optimize:
        fail("%s: animation_tolerance needs optimize = True" % ctx.label)
    if tolerance and (not tolerance[0] in "0123456789." or [c for c in tolerance.elems() if not c in "0123456789.eE+-"]):
        fail("%s: animation_tolerance %s is not a number >= 0" % (ctx.label, tolerance))
    distance = ctx.attr.animation_distance
    if distance and not tolerance:
        fail("%s: animation_distance needs animation_tolerance" % ctx.label)
    if distance and (not distance[0] in "0123456789." or [c for c in distance.elems() if not c in "0123456789.eE+-"]):
        fail("%s: animation_distance %s is not a number >= 0" % (ctx.label, distance))

    if ctx.attr.animations and not ctx.attr.animated:
        fail("%s: animations needs animated = True" % ctx.label)
    if ctx.attr.clips_only and not ctx.attr.animations:
        fail("%s: clips_only needs animations" % ctx.label)
    for take in ctx.attr.animations:
        _check_take_name(ctx.label, take)

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
        outputs.append(output)
        textures = None
        if ctx.attr.extract_textures:
            # A tree artifact: Bazel empties it before each run, so a texture
            # from an earlier build of the model never survives.
            textures = ctx.actions.declare_directory(_join(ctx.attr.output_directory, stem + ".textures"))
            outputs.append(textures)
        takes = [
            ctx.actions.declare_file(_join(ctx.attr.output_directory, "%s.%s.animbin" % (stem, take)))
            for take in ctx.attr.animations
        ]
        if takes:
            takes.append(ctx.actions.declare_file(_join(ctx.attr.output_directory, stem + ".takes.txt")))
        outputs += takes
        inputs = [src] + [f for f in ctx.files.data if f != src and _is_below(f.path, model_dir)]
        inputs += [f for f in shared if f != src]
        input_list = ctx.actions.declare_file("_varndel/%s/%s.inputs" % (ctx.label.name, stem))
        ctx.actions.write(input_list, "".join([f.path + "\n" for f in inputs]))

        # Every path is relative to the execution root, so the command line is
        # the same on every machine. The log lands in an undeclared directory.
        args = ctx.actions.args()
        args.add("--inputs", input_list)
        args.add("--existing", existing_lists[model_dir])
        args.add("--package", package_dir or ".")
        if ctx.attr.optimize:
            args.add("--optimize")  # the GPU-order step, as varndel-opt runs it
        if tolerance:
            args.add("--anim-tolerance", tolerance)
        if distance:
            args.add("--anim-distance", distance)
        if textures:
            args.add("--extract-textures", textures.path)
        for take in ctx.attr.animations:
            args.add("--animation", take)
            args.add("--expect-take", take)
        if ctx.attr.clips_only:
            args.add("--clips-only")
        args.add("1" if ctx.attr.animated else "0")
        args.add("1" if ctx.attr.flip_uvs else "0")
        args.add(root or ".")
        args.add(relative)
        args.add(output)
        args.add(_join(ctx.bin_dir.path, package_dir, "_varndel_logs", ctx.label.name, stem))
        ctx.actions.run(
            executable = ctx.executable.tool,
            arguments = [args],
            inputs = inputs + [input_list, existing_lists[model_dir], ctx.file.fingerprint],
            outputs = [output] + ([textures] if textures else []) + takes,
            mnemonic = "VarndelModel",
            progress_message = "Compiling model %s" % relative,
        )
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
        "animation_tolerance": attr.string(),
        "animation_distance": attr.string(),
        "extract_textures": attr.bool(),
        "animations": attr.string_list(),
        "clips_only": attr.bool(),
        # Package-relative names of the package's files (the macro globs them).
        "existing": attr.string_list(),
        "fingerprint": attr.label(default = "@varndel_tools//:fingerprint", allow_single_file = True),
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
        data = native.glob([_join(d, "**") for d in dirs], exclude = _NOT_DATA)
    existing = native.glob(["**"], exclude = _NOT_DATA)
    _varndel_models(name = name, srcs = srcs, data = data, existing = existing, **kwargs)

def _varndel_report_impl(ctx):
    out = ctx.actions.declare_file(ctx.attr.out or ctx.label.name + ".html")
    files = ctx.files.models
    compiled = [f for f in files if not f.is_directory and f.extension in ["staticbin", "animbin"]]
    if not compiled:
        fail("%s: models names no compiled file" % ctx.label)

    # The extracted textures (tree artifacts) come along, so that the page
    # says which textures were extracted. One thread: Bazel runs actions in
    # parallel already.
    args = ctx.actions.args()
    args.add("report")
    args.add_all(compiled)
    args.add("-o", out)
    args.add("-j", "1")
    ctx.actions.run(
        executable = ctx.executable.inspect,
        arguments = [args],
        inputs = files,
        outputs = [out],
        mnemonic = "VarndelReport",
        progress_message = "Writing the report %s" % out.short_path,
    )
    return [DefaultInfo(files = depset([out]))]

varndel_report = rule(
    implementation = _varndel_report_impl,
    doc = "One self-contained HTML page over compiled models: pictures, sizes, textures and findings.",
    attrs = {
        "models": attr.label_list(allow_files = True, mandatory = True, allow_empty = False),
        "out": attr.string(),
        "inspect": attr.label(
            default = "@varndel_tools//:inspect",
            executable = True,
            allow_single_file = True,
            cfg = "exec",
        ),
    },
)
