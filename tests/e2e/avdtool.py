"""Runs the built avdconv, natively or under Wine, and reads what it leaves."""

import os
import subprocess
import tempfile

EXE = os.environ.get("AVDCONV", "")
EMULATOR = os.environ.get("AVDCONV_EMULATOR", "")
WINDOWS = EXE.lower().endswith(".exe")

BANNER_RULE = "#" * 50


def tool_path(path):
    """The path as the tool sees it: Wine maps / to drive Z:."""
    if not WINDOWS:
        return path
    return "Z:" + path.replace("/", "\\")


def separator():
    return "\\" if WINDOWS else "/"


def run_command(command, cwd=None, env=None, timeout=600, umask=None):
    """Runs a program to its end; returns (exit status, stdout, stderr).

    The output goes through files, not pipes: Wine may start helper processes
    that inherit the handles and outlive the program, and a pipe would then
    never reach its end."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                timeout=timeout, preexec_fn=None if umask is None else lambda: os.umask(umask)).returncode
        out.seek(0)
        err.seek(0)
        return status, out.read(), err.read()


def run(args, exe=None, cwd=None, env=None, timeout=600, umask=None):
    """Runs the tool; returns (exit status, stdout bytes with CRLF folded, stderr)."""
    command = ([EMULATOR] if EMULATOR else []) + [exe or EXE] + list(args)
    status, out, err = run_command(command, cwd=cwd, env=env, timeout=timeout, umask=umask)
    if WINDOWS:
        # The console's text mode writes "\n" as "\r\n".
        out = out.replace(b"\r\n", b"\n")
    return status, out, err


def banner(shown_path):
    return (
        "\n" + BANNER_RULE + "\n"
        "  Vantrel Archiv File Converter 1.1\n"
        "  Path: " + shown_path + "\n"
        "  Threads: 4 FileType: \"FLV\" for H264 and \"AVI\" for MJPEG\n"
        + BANNER_RULE + "\n\n"
    ).encode("utf-8")


NO_ARCHIVES = b"finished - no avd files found in directory!"


def snapshot(root):
    """Every file below `root`, by relative path, with its bytes."""
    found = {}
    for dirpath, _, names in os.walk(root):
        for name in names:
            full = os.path.join(dirpath, name)
            with open(full, "rb") as f:
                found[os.path.relpath(full, root)] = f.read()
    return found


def write_tree(root, tree):
    """Writes {relative path: bytes} below `root`, making directories."""
    for name, data in tree.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


TEMPORARY_SUFFIX = ".avdconv-tmp"
