"""Pelvar boards as labgrid targets.

Name this module under ``imports:`` in a labgrid environment file and give
the target a ``PelvarDriver``; it binds the board's serial port (a local
``RawSerialPort`` or ``USBSerialPort``, a ``NetworkSerialPort`` served over
RFC 2217 or raw TCP, or what a ``RemotePlace`` resolves to) and drives it
through the module's Board::

    imports:
      - pelvar.labgrid
    targets:
      main:
        resources:
          RawSerialPort:
            port: /dev/ttyUSB0
        drivers:
          PelvarDriver: {}

    drv = target.get_driver("PelvarDriver")
    drv.set("brightness", 200)
    assert drv.board.reg[0x0010] == 0x1234
"""

from typing import Optional, Union

import attr
from labgrid.driver.common import Driver
from labgrid.factory import target_factory
from labgrid.resource import SerialPort
from labgrid.step import step
from labgrid.util.proxy import proxymanager

from . import Board, Exchange, connect

__all__ = ["PelvarDriver"]

_SCHEMES = {"rfc2217": "rfc2217", "raw": "socket"}


@target_factory.reg_driver
@attr.s(eq=False)
class PelvarDriver(Driver):
    """Connects to the board on activation (as ``pelvar.connect``) and
    releases it on deactivation. The line is the board's own (115200 8N1,
    set by Pelvar): the resource's speed is not used. ``board`` is the connected ``pelvar.Board``;
    the commonest calls are here as well, as labgrid steps.

    Args:
        map (str): register map for names in ``read``, ``write`` and ``board.reg``
            (relative to the environment file)
    """

    bindings = {"port": {"SerialPort", "NetworkSerialPort"}}

    map = attr.ib(default=None, validator=attr.validators.optional(attr.validators.instance_of(str)))

    def __attrs_post_init__(self) -> None:
        super().__attrs_post_init__()
        self._board: Optional[Board] = None
        # A wrong protocol in the environment file is reported when the target
        # is made, before anything is opened.
        if not isinstance(self.port, SerialPort) and self.port.protocol not in _SCHEMES:
            raise ValueError(f"{self}: protocol '{self.port.protocol}' is neither rfc2217 nor raw")

    def port_name(self) -> str:
        """The port as pelvar.connect and pelvarctl --port take it."""
        if isinstance(self.port, SerialPort):
            return self.port.port
        host, port = proxymanager.get_host_and_port(self.port)
        if ":" in host:
            host = f"[{host}]"
        return f"{_SCHEMES[self.port.protocol]}://{host}:{port}"

    def on_activate(self) -> None:
        map_path = self.map
        if map_path is not None and self.target.env is not None:
            map_path = self.target.env.config.resolve_path(map_path)
        self._board = connect(self.port_name(), map=map_path)

    def on_deactivate(self) -> None:
        board, self._board = self._board, None
        if board is not None:
            board.close()

    @property
    @Driver.check_active
    def board(self) -> Board:
        return self._board

    @Driver.check_active
    @step(args=["name", "value"])
    def set(self, name: str, value: int) -> None:
        self._board.set(name, value)

    @Driver.check_active
    @step(args=["button"])
    def press(self, button: str) -> None:
        self._board.press(button)

    @Driver.check_active
    @step(args=["reg"], result=True)
    def read(self, reg: Union[int, str]) -> int:
        return self._board.read(reg)

    @Driver.check_active
    @step(args=["addr", "value"])
    def write(self, addr: Union[int, str], value: int, verify: bool = False) -> None:
        self._board.write(addr, value, verify=verify)

    @Driver.check_active
    @step(args=["first", "last"])
    def dump(self, first: int, last: int) -> dict[int, int]:
        return self._board.dump(first, last)

    @Driver.check_active
    @step(result=True)
    def diagnose(self) -> dict[str, object]:
        return self._board.diagnose()

    @Driver.check_active
    def log(self, last: Optional[int] = None) -> list[Exchange]:
        return self._board.log(last)
