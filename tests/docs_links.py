#!/usr/bin/env python3
"""Checks the relative links of the documents.

usage: docs_links.py SOURCE_DIR

Every link [text](target) in SOURCE_DIR/*.md and SOURCE_DIR/docs/*.md that
is not a URL must name a file or folder that exists (relative to the
document), and its #anchor, if any, a heading of the Markdown file it names.
Links inside fenced code blocks and code spans are not links. Prints each
broken link and exits 1 when there is one, 2 on bad usage.
"""
import pathlib
import re
import sys

LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
CODE_SPAN = re.compile(r"(`+).*?\1")
URL = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")


def prose_lines(text):
    """(line number, line) outside fenced code blocks."""
    fenced = False
    for number, line in enumerate(text.splitlines(), 1):
        if line.lstrip().startswith("```"):
            fenced = not fenced
            continue
        if not fenced:
            yield number, line


def anchors(text):
    """The anchors a Markdown renderer gives the headings of a document."""
    seen, result = {}, set()
    for _, line in prose_lines(text):
        heading = re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not heading:
            continue
        # The title as rendered: link and code markup go, their text stays.
        title = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading.group(1)).replace("`", "")
        slug = re.sub(r"[^\w\- ]", "", title.lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        result.add(slug if count == 0 else f"{slug}-{count}")
    return result


def broken_links(document, root):
    name = document.relative_to(root).as_posix()
    text = document.read_text(encoding="utf-8")
    for number, line in prose_lines(text):
        for target in LINK.findall(CODE_SPAN.sub("", line)):
            if URL.match(target):
                continue
            path, _, anchor = target.partition("#")
            named = (document.parent / path).resolve() if path else document
            if not named.exists():
                yield f"{name}:{number}: {target}: no such file"
            elif anchor and named.suffix == ".md":
                if anchor not in anchors(named.read_text(encoding="utf-8")):
                    yield f"{name}:{number}: {target}: no such heading in {named.name}"


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = pathlib.Path(argv[1])
    documents = sorted(root.glob("*.md")) + sorted((root / "docs").glob("*.md"))
    problems = [problem for document in documents for problem in broken_links(document, root)]
    for problem in problems:
        print(f"FAIL: {problem}")
    print(f"{len(documents)} documents, " + (f"{len(problems)} broken links" if problems else "every relative link found"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
