#!/usr/bin/env python3
"""The documents hold together: links that lead somewhere, commands CI runs.

    docs_test.py ROOT

Reads every Markdown file under ROOT (the build directories ROOT/build*,
hidden directories and the fixture of this check's own test left out) and
reports, one line each:
- a relative link whose file or directory does not exist,
- a link whose anchor (#...) is no heading of the file it names, by the
  slug GitHub gives a heading (lower case, punctuation dropped, blanks to
  '-', '-1', '-2' ... after a repeated heading),
- a command README.md shows a newcomer (the indented lines between
  <!-- newcomer commands --> and <!-- /newcomer commands -->) that is not
  a line of .ci/run, or no such commands at all.
Exit status 0 when nothing is wrong, 1 otherwise.
"""
import os
import re
import sys
from urllib.parse import unquote

# Checked by a test of its own, which expects the faults it holds.
FIXTURE = os.path.join("tests", "docs")

INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE_LINK = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+.*)?$")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")
ATX_HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)(?:\s+#+)?\s*$")
FENCE = re.compile(r"^\s{0,3}(```|~~~)")
NEWCOMER_START = "<!-- newcomer commands -->"
NEWCOMER_END = "<!-- /newcomer commands -->"


def markdown_files(root):
    for directory, subdirs, files in os.walk(root):
        relative = os.path.relpath(directory, root)
        subdirs[:] = sorted(d for d in subdirs if not d.startswith(".")
                            and not (relative == "." and d.startswith("build"))
                            and os.path.normpath(os.path.join(relative, d)) != FIXTURE)
        for name in sorted(files):
            if name.endswith(".md"):
                yield os.path.normpath(os.path.join(relative, name))


def prose_lines(text):
    """(line number, line) of the text outside code blocks: fenced ones, and
    indented ones, which begin after a blank line and go on over indented
    and blank lines."""
    fence = None
    previous_blank = True
    in_indented = False
    for number, line in enumerate(text.splitlines(), 1):
        opening = FENCE.match(line)
        if fence:
            if opening and opening.group(1) == fence:
                fence = None
            continue
        if opening:
            fence = opening.group(1)
            continue
        blank = not line.strip()
        indented = line.startswith("    ") or line.startswith("\t")
        in_indented = (indented or blank) if in_indented else (indented and previous_blank)
        previous_blank = blank
        if in_indented:
            continue
        yield number, line


def slug(heading):
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
    text = re.sub(r"<[^>]+>", "", text).lower()
    text = "".join(c for c in text if c.isalnum() or c in " -_")
    return text.replace(" ", "-")


def anchors(text):
    found = set()
    seen = {}
    for _, line in prose_lines(text):
        match = ATX_HEADING.match(line)
        if not match:
            continue
        base = slug(match.group(2))
        count = seen.get(base, 0)
        seen[base] = count + 1
        found.add(base if count == 0 else f"{base}-{count}")
    return found


def link_targets(text):
    for number, line in prose_lines(text):
        # What a code span holds is shown, not followed.
        line = CODE_SPAN.sub(lambda m: " " * len(m.group(0)), line)
        for match in INLINE_LINK.finditer(line):
            yield number, match.group(1)
        match = REFERENCE_LINK.match(line)
        if match:
            yield number, match.group(1)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def heading_anchors(root, relative, cache):
    if relative not in cache:
        cache[relative] = anchors(read(os.path.join(root, relative)))
    return cache[relative]


def check_links(root, relative, cache):
    faults = []
    for number, target in link_targets(read(os.path.join(root, relative))):
        if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
            continue  # http:, https:, mailto: and other schemes
        path, _, anchor = target.partition("#")
        named = relative if not path else os.path.normpath(
            os.path.join(os.path.dirname(relative), unquote(path)))
        where = f"{relative}:{number}"
        if not os.path.exists(os.path.join(root, named)):
            faults.append(f"{where}: broken link: {target} ({named} does not exist)")
        elif anchor and (not named.endswith(".md")
                         or unquote(anchor) not in heading_anchors(root, named, cache)):
            faults.append(f"{where}: bad anchor: {target} (no heading of {named} has the slug {anchor})")
    return faults


def check_newcomer_commands(root):
    missing = [f"{name}: missing" for name in ("README.md", ".ci/run")
               if not os.path.isfile(os.path.join(root, name))]
    if missing:
        return missing
    readme = read(os.path.join(root, "README.md"))
    ci_lines = {line.strip() for line in read(os.path.join(root, ".ci", "run")).splitlines()}
    commands = []
    inside = False
    for line in readme.splitlines():
        if line.strip() == NEWCOMER_START:
            inside = True
        elif line.strip() == NEWCOMER_END:
            inside = False
        elif inside and line.startswith("    ") and line.strip():
            commands.append(line.strip())
    if not commands:
        return [f"README.md: no newcomer commands between {NEWCOMER_START} and {NEWCOMER_END}"]
    return [f"README.md: newcomer command not run by .ci/run: {c}" for c in commands if c not in ci_lines]


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = sys.argv[1]
    cache = {}
    faults = []
    for relative in markdown_files(root):
        faults += check_links(root, relative, cache)
    faults += check_newcomer_commands(root)
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
