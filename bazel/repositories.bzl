"""varndel_tools: the installed build step as a Bazel label.

In a WORKSPACE, after local_repository(name = "varndel", ...):

    load("@varndel//bazel:repositories.bzl", "varndel_tools")
    varndel_tools(prefix = "/opt/varndel")

makes @varndel_tools//:edge, the file varndel_models runs,
@varndel_tools//:fingerprint, which every model's action takes as an input,
and @varndel_tools//:inspect, the varndel-inspect that varndel_report runs.
The prefix is an install prefix (the build step is
<prefix>/libexec/varndel/varndel-edge; /usr for the Debian package) or a CMake
build directory of the source tree (<build>/edge/varndel-edge), absolute or
relative to the workspace.

The fingerprint holds the content hash of the build step and of every shared
library the dynamic loader loads for it (ldd's answer: Assimp, meshoptimizer,
the C++ runtime, libc, the loader), each under its file name, never its
directory. Actions name both files by their place in this repository, which is
the same under every prefix, so machines whose tools have the same bytes share
cache entries wherever the tools are installed, and a machine with another
Assimp build misses the cache instead of being served bytes it would not
produce. The fingerprint is made when the repository is: at each start of the
Bazel server, and by `bazel sync --configure`. After replacing the build step
or a library it loads (an Assimp upgrade), run `bazel shutdown` before the
next build.
"""

_CANDIDATES = ["libexec/varndel/varndel-edge", "edge/varndel-edge"]
_INSPECT_CANDIDATES = ["bin/varndel-inspect", "inspect/varndel-inspect"]

def _workspace_root(repository_ctx):
    if hasattr(repository_ctx, "workspace_root"):  # Bazel 6 and later
        return str(repository_ctx.workspace_root)

    # Bazel 4.2 has no such field, and a label of the workspace's files needs
    # a BUILD file at its root. The output base, which holds this repository
    # as external/<name>, names the workspace it serves in its first line.
    output_base = repository_ctx.path("BUILD.bazel").dirname.dirname.dirname
    record = output_base.get_child("DO_NOT_BUILD_HERE")
    root = repository_ctx.read(record).split("\n")[0].strip() if record.exists else ""
    if root and [n for n in ["WORKSPACE.bazel", "WORKSPACE"] if repository_ctx.path(root + "/" + n).exists]:
        return root
    fail("varndel_tools: cannot find the workspace to resolve the prefix %s; give an absolute prefix" %
         repository_ctx.attr.prefix)

def _shared_libraries(repository_ctx, binary):
    """The files the dynamic loader maps for binary, as (name, path) pairs."""
    if not repository_ctx.which("ldd"):
        return []  # a static build (Windows) loads no library of its own
    result = repository_ctx.execute(["ldd", binary])
    if result.return_code != 0:
        fail("varndel_tools: ldd %s failed: %s" % (binary, result.stderr + result.stdout))
    libraries = []
    for line in result.stdout.splitlines():
        # "libassimp.so.5 => /usr/lib/.../libassimp.so.5 (0x...)",
        # "/lib64/ld-linux-x86-64.so.2 (0x...)", "linux-vdso.so.1 (0x...)".
        line = line.strip()
        if "=> not found" in line:
            fail("varndel_tools: %s needs %s, which the dynamic loader cannot find" % (binary, line.split(" ")[0]))
        path = line.split("=>")[-1].strip().split(" (")[0].strip()
        if path.startswith("/"):
            libraries.append((path[path.rfind("/") + 1:], path))
    return libraries

def _fingerprint(repository_ctx, edge):
    files = [("varndel-edge", edge)] + _shared_libraries(repository_ctx, edge)
    result = repository_ctx.execute(["sha256sum", "--"] + [path for _, path in files])
    if result.return_code != 0:
        fail("varndel_tools: cannot hash the build step's files: " + result.stderr)
    hashes = [line.split(" ")[0] for line in result.stdout.splitlines()]
    if len(hashes) != len(files):
        fail("varndel_tools: sha256sum gave %d hashes for %d files" % (len(hashes), len(files)))
    return "".join(["%s  %s\n" % (digest, name) for digest, (name, _) in zip(hashes, files)])

def _varndel_tools_impl(repository_ctx):
    prefix = repository_ctx.attr.prefix
    if not prefix.startswith("/"):
        prefix = "%s/%s" % (_workspace_root(repository_ctx), prefix)
    tried = ["%s/%s" % (prefix, candidate) for candidate in _CANDIDATES]
    found = [path for path in tried if repository_ctx.path(path).exists]
    if not found:
        fail("varndel_tools: no build step below %s; tried %s" % (prefix, ", ".join(tried)))

    # A link, not a copy: a rebuilt build step is seen without a refetch.
    repository_ctx.symlink(found[0], "varndel-edge")
    inspect = [p for p in ["%s/%s" % (prefix, c) for c in _INSPECT_CANDIDATES] if repository_ctx.path(p).exists]
    if inspect:
        repository_ctx.symlink(inspect[0], "varndel-inspect")
    else:
        # Only varndel_report needs it: it fails then, saying why.
        repository_ctx.file("varndel-inspect", "#!/bin/sh\necho 'varndel_tools: no varndel-inspect below %s' >&2\nexit 2\n" %
                            prefix, executable = True)
    repository_ctx.file("fingerprint.txt", _fingerprint(repository_ctx, str(repository_ctx.path(found[0]))))
    repository_ctx.file("WORKSPACE.bazel", "workspace(name = \"%s\")\n" % repository_ctx.name)
    repository_ctx.file("BUILD.bazel", """# Generated by varndel_tools.
exports_files(["varndel-edge", "varndel-inspect", "fingerprint.txt"])

alias(
    name = "inspect",
    actual = "varndel-inspect",
    visibility = ["//visibility:public"],
)

alias(
    name = "edge",
    actual = "varndel-edge",
    visibility = ["//visibility:public"],
)

alias(
    name = "fingerprint",
    actual = "fingerprint.txt",
    visibility = ["//visibility:public"],
)
""")

varndel_tools_repository = repository_rule(
    implementation = _varndel_tools_impl,
    attrs = {"prefix": attr.string(mandatory = True)},
    local = True,
    configure = True,  # `bazel sync --configure` makes it again
)

def varndel_tools(prefix, name = "varndel_tools"):
    """Names the install prefix (or CMake build directory) of the build step."""
    varndel_tools_repository(name = name, prefix = prefix)
