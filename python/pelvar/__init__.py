"""The Pelvar camera board from Python: the C++ core that pelvarctl and the
panel run, with the same frames, timing and result codes.

    import pelvar
    with pelvar.simulated_board(sensor="L") as sim, pelvar.connect(sim.port) as board:
        board.set("brightness", 200)
        board.reg[0x0010] = 0xBEEF
        assert board.reg[0x0010] == 0xBEEF

Failures raise exceptions derived from pelvar.PelvarError (with .code and
.name, the result code and its name); wrong types and values raise TypeError
and ValueError before anything is sent.
"""

from ._pelvar import (
    Board,
    Exchange,
    PortInfo,
    QueryReply,
    RegisterView,
    SimulatedBoard,
    Watch,
    __version__,
    connect,
    diagnose,
    port_list,
    ports,
    result_name,
    simulated_board,
)
from .registers import RegisterValue
from .errors import (
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

__all__ = [
    "Board",
    "ChecksumError",
    "Exchange",
    "LinkError",
    "NoReplyError",
    "PelvarError",
    "PortBusyError",
    "PortError",
    "PortInfo",
    "QueryReply",
    "RefusedError",
    "RegisterValue",
    "RegisterView",
    "SimulatedBoard",
    "StartupError",
    "VerifyError",
    "Watch",
    "__version__",
    "connect",
    "diagnose",
    "port_list",
    "ports",
    "result_name",
    "simulated_board",
]
