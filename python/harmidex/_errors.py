"""The exceptions harmidex raises, and how a module failure becomes one."""

from __future__ import annotations

import os

from . import _harmidex


class Error(Exception):
    """A failure the harmidex module reported.

    ``code`` is the module's result code (an open's error code; ``None`` for
    a method, which reports only a text), ``text`` the module's own error
    text (``getError``). ``str(error)`` is the explanation the ``harmidex``
    command prints for the same failure.
    """

    def __init__(self, message: str, code: int | None = None, text: str = "") -> None:
        super().__init__(message)
        self.code = code
        self.text = text

    def __str__(self) -> str:
        # The explanation alone, also where an OSError base would add its fields.
        return str(self.args[0]) if self.args else ""


class OpenError(Error):
    """An open the module refused, for a reason no built-in names."""


class FileNotFound(OpenError, FileNotFoundError):
    """The file, or a folder on its path, is not there."""


class IsADirectory(OpenError, IsADirectoryError):
    """The path names a directory."""


class PermissionDenied(OpenError, PermissionError):
    """The file cannot be read with the process's permissions."""


class MethodError(Error, ValueError):
    """A method the module answered with 0; ``text`` says why."""


def _open_error(code: int, text: str, explanation: str, path: bytes) -> Error:
    cls: type[Error] = OpenError
    if code in (_harmidex.CODE_FILE_NOT_FOUND, _harmidex.CODE_PATH_NOT_RESOLVED):
        cls = FileNotFound
    elif code == _harmidex.CODE_PERMISSION:
        cls = PermissionDenied
    elif code == _harmidex.CODE_NOT_A_FILE and os.path.isdir(path):
        cls = IsADirectory
    elif code == 0:
        # An argument the module refused (a path too long, say): no code.
        return MethodError(text, None, text)
    error = cls(explanation, code, text)
    if isinstance(error, OSError):
        error.filename = os.fsdecode(path)
    return error


def _method_error(text: str) -> Error:
    return MethodError(text, None, text)


_harmidex._set_error_factories(_open_error, _method_error)
