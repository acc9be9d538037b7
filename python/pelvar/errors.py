"""The exceptions of the pelvar module: one base class, PelvarError, with the
result code of the failed exchange and its name (code, name, port, errno).
The module makes them when it loads and raises them itself."""

from ._pelvar import (  # noqa: F401
    ChecksumError,
    LinkError,
    NoReplyError,
    PelvarError,
    PortBusyError,
    PortError,
    RefusedError,
    StartupError,
    VerifyError,
)
