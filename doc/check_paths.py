#!/usr/bin/env python3
"""Checks that README.md and doc/*.md name only what the tree has: every
relative link (and its #anchor) resolves, every source path named in
backticks or in a code block exists, every file name named alone is a
tracked file's name, and every build output path (build/<dir>/...) lies in
the folder whose CMakeLists.txt declares that target. Prints each fault and
ends with status 1 when there is one.

    python3 doc/check_paths.py
"""

import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Names in the pages that are no file of the tree, each with the reason.
NOT_TREE_FILES = {
    "bridge.xml": "the bridge descriptor of two real boards, a placeholder",
    "app.xml": "the application descriptor of two real boards, a placeholder",
    "create_link.sh": "cellapp's start-up script in the install tree, not shipped",
    "schneider_one_axis.xml": "named by its install-tree path etc/busmaster/",
}
# Paths relative to cellapp's install tree (/opt/<install name>/), not the checkout.
INSTALL_TREE = "examples/cellapp/"
EXTENSIONS = (".h", ".cpp", ".py", ".xml", ".cfg", ".conf", ".supp", ".json", ".md", ".txt", ".dump")


def tracked_files():
    out = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True, text=True, check=True).stdout
    return [line for line in out.splitlines() if line]


def cmake_targets():
    """Target name -> folder of the CMakeLists.txt that declares it."""
    targets = {}
    pattern = re.compile(r"\b(?:add_executable|add_library|cell_add_gtest)\(\s*([A-Za-z0-9_]+)")
    for path in tracked_files():
        if os.path.basename(path) == "CMakeLists.txt":
            with open(os.path.join(ROOT, path)) as f:
                text = f.read()
            names = pattern.findall(text)
            for var, listed, body in re.findall(r"foreach\((\w+)\s+([^)]*)\)(.*?)endforeach", text, re.S):
                if "add_executable(${%s}" % var in body:
                    names.extend(listed.split())
            for name in names:
                targets.setdefault(name, os.path.dirname(path))
    return targets


def slug(heading):
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def anchors(path):
    with open(path) as f:
        return {slug(line.lstrip("#")) for line in f if line.startswith("#")}


def code_spans(text):
    """Tokens in backticks and in fenced code blocks."""
    spans = []
    fenced = re.findall(r"```[a-z]*\n(.*?)```", text, re.S)
    for block in fenced:
        spans.extend(block.split())
    text = re.sub(r"```[a-z]*\n.*?```", "", text, flags=re.S)
    for span in re.findall(r"`([^`\n]+)`", text):
        spans.extend(span.split())
    # Indented code blocks (four spaces after a blank line).
    for block in re.findall(r"(?:\n\n)((?:    .*\n)+)", text):
        spans.extend(block.split())
    return spans


class Checker:
    def __init__(self):
        self.files = tracked_files()
        self.names = {os.path.basename(p) for p in self.files}
        self.top = {p.split("/")[0] for p in self.files}
        self.targets = cmake_targets()
        self.faults = []

    def exists(self, path):
        return os.path.exists(os.path.join(ROOT, path))

    def check_link(self, page, target):
        if re.match(r"[a-z]+://", target):
            return
        path, _, anchor = target.partition("#")
        resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
        if not self.exists(resolved):
            self.faults.append("%s: link to %s: no such file" % (page, target))
        elif anchor and anchor not in anchors(os.path.join(ROOT, resolved)):
            self.faults.append("%s: link to %s: no such heading" % (page, target))

    def check_build_path(self, page, token):
        # build/<build folder>/<source folder>/<target>
        rest = token.split("/")[2:]
        folder, name = "/".join(rest[:-1]), re.sub(r"^lib(.*)\.so$", r"\1", rest[-1])
        if self.targets.get(name) == folder:
            return
        self.faults.append("%s: %s: no target of that name in that folder" % (page, token))

    def check_token(self, page, token):
        token = token.strip(".,;:()'\"")
        if not token or "<" in token or "…" in token or "..." in token or "*" in token:
            return
        if "/" in token and not token.startswith("/"):
            first = token.split("/")[0]
            if first == "build":
                if len(token.split("/")) > 2:
                    self.check_build_path(page, token)
                return
            if first in self.top or first in ("doc",):
                if not self.exists(token):
                    self.faults.append("%s: %s: no such path" % (page, token))
            elif first == "etc" and not self.exists(INSTALL_TREE + token):
                self.faults.append("%s: %s: not in the install tree %s" % (page, token, INSTALL_TREE))
            return
        if token.endswith(EXTENSIONS) and re.match(r"^[\w\-.]+$", token):
            if token not in self.names and token not in NOT_TREE_FILES:
                self.faults.append("%s: %s: no tracked file of that name" % (page, token))

    def check_page(self, page):
        with open(os.path.join(ROOT, page)) as f:
            text = f.read()
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            self.check_link(page, target)
        for token in code_spans(text):
            self.check_token(page, token)


def main():
    checker = Checker()
    pages = ["README.md"] + sorted("doc/" + p for p in os.listdir(os.path.join(ROOT, "doc")) if p.endswith(".md"))
    for page in pages:
        checker.check_page(page)
    for fault in checker.faults:
        print(fault)
    print("%d pages, %d faults" % (len(pages), len(checker.faults)))
    return 1 if checker.faults else 0


if __name__ == "__main__":
    sys.exit(main())
