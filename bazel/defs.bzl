"""vorna_library: a library of relocatable modules, made by vorna.

    load("@vorna//:defs.bzl", "vorna_library")

    vorna_library(
        name = "app",
        out = "APP.LIB",
        modules = ["START.QOB", "My Strings.QOB", "//math:MATH.QOB"],
    )

makes APP.LIB from exactly the given modules, in the order given, with the
vorna of the install that holds this repository (vorna --new -a).

The action is hermetic, so its output can come from a shared or remote
cache: it runs with no environment but SOURCE_DATE_EPOCH, which makes the
library independent of the time zone, and, as long as the epoch lies
before the modules were made, of their file times. The module names reach
vorna through a command file that Bazel writes in its "shell" format,
where a name with blanks or quotes is quoted as a POSIX shell reads it.
"""

# 1980-01-01 00:00:00 UTC, the earliest time a zip archive holds: every
# module made since is stored with this time.
DEFAULT_SOURCE_DATE_EPOCH = 315532800

# vorna gives a name without an extension its default one, so that such a
# name would not be the file Bazel knows. A library's name has one when its
# last dot follows no other dot; a module's when it holds a dot.
def _library_has_extension(name):
    dot = name.rfind(".")
    return dot == 0 or (dot > 0 and name[dot - 1] != ".")

def _vorna_library_impl(ctx):
    out = ctx.outputs.out
    if not _library_has_extension(out.basename):
        fail("out needs an extension, such as APP.LIB: " + out.basename)
    for module in ctx.files.modules:
        if "." not in module.basename:
            fail("a module needs an extension, such as .QOB: " + module.short_path)

    args = ctx.actions.args()
    args.add_all(["-a", "-o", out, "-f"])
    args.add_all(ctx.files.modules)
    args.use_param_file("@%s", use_always = True)
    args.set_param_file_format("shell")

    ctx.actions.run(
        executable = ctx.file._vorna,
        arguments = ["--new", args],
        inputs = ctx.files.modules,
        outputs = [out],
        # The working files go beside the library, so that two libraries
        # of the same name in different packages never meet in one place.
        env = {
            "SOURCE_DATE_EPOCH": str(ctx.attr.source_date_epoch),
            "TMP": out.dirname,
        },
        mnemonic = "VornaLibrary",
        progress_message = "Making the library %s" % out.short_path,
    )
    return [DefaultInfo(files = depset([out]))]

vorna_library = rule(
    implementation = _vorna_library_impl,
    doc = "A library holding exactly the given relocatable modules, in the order given.",
    attrs = {
        "out": attr.output(
            mandatory = True,
            doc = "The library file, with its extension (APP.LIB).",
        ),
        "modules": attr.label_list(
            allow_files = True,
            mandatory = True,
            doc = "The relocatable modules (.QOB), in library order.",
        ),
        "source_date_epoch": attr.int(
            default = DEFAULT_SOURCE_DATE_EPOCH,
            doc = "The time, in seconds since 1970 UTC, stored for every module " +
                  "made after it (vorna's SOURCE_DATE_EPOCH).",
        ),
        "_vorna": attr.label(
            default = Label("//:vorna"),
            allow_single_file = True,
            cfg = "exec",
        ),
    },
)
