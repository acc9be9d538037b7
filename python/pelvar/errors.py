"""The exceptions of the pelvar module: one base class, PelvarError, with the
result code of the failed exchange and its name."""

import errno as _errno

from ._pelvar import result_name


class PelvarError(Exception):
    """A failed operation on the board.

    code: the result code (0 for a failure that is no link result, such as a
    read-back that differs), name: its name ("LINK_ERR_NO_REPLY"), port: n of
    COMn where known, errno: the system's error number for a port that could
    not be opened."""

    def __init__(self, message, code=0, name=None, port=None, errno=None):
        super().__init__(message)
        self.code = code
        self.name = name if name is not None else result_name(code)
        self.port = port
        self.errno = errno


class NoReplyError(PelvarError):
    """The board did not answer (LINK_ERR_NO_REPLY, PORT_ERR_READ_TIMEOUT)."""


class RefusedError(PelvarError):
    """The board refused the command (LINK_ERR_NAK)."""


class ChecksumError(PelvarError):
    """The board's reply had a wrong checksum (LINK_ERR_CHECKSUM)."""


class LinkError(PelvarError):
    """Any other failure on the line: a failed send, a reply too long."""


class PortError(PelvarError):
    """The port could not be opened or set up; errno says why."""


class PortBusyError(PortError):
    """The port is held by another program."""


class StartupError(PelvarError):
    """The board answered but did not start: its status stayed 0, or it names no sensor."""


class VerifyError(PelvarError):
    """A register read back holds another value than the one written."""


_BY_NAME = {
    "LINK_ERR_NO_REPLY": NoReplyError,
    "PORT_ERR_READ_TIMEOUT": NoReplyError,
    "LINK_ERR_NAK": RefusedError,
    "LINK_ERR_CHECKSUM": ChecksumError,
}


def error_class(kind, code, errno_=0):
    """The exception class for a failure of `kind` ("link", "port", "startup",
    "verify") with result `code`; the module raises through it."""
    if kind == "startup":
        return StartupError
    if kind == "verify":
        return VerifyError
    if kind == "port":
        return PortBusyError if errno_ in (_errno.EBUSY, _errno.EWOULDBLOCK) else PortError
    return _BY_NAME.get(result_name(code), LinkError)
