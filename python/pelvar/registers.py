"""Register values as the module returns them: the number, with the map's
decoding beside it, so that a failed assertion shows what the bits mean."""


class RegisterValue(int):
    """A register or field value read through a register map: an int that
    shows hexadecimal and its fields (``CTRL=0x8032 (MODE=continuous(2) GAIN=3)``),
    and, for a field with named values, also equals its name."""

    def __new__(cls, value, reference, decoded, fields, value_name, decode):
        self = super().__new__(cls, value)
        self._reference = reference
        self._decoded = decoded
        self._fields = fields
        self._value_name = value_name
        self._decode = decode
        return self

    @property
    def reference(self):
        """(self) -> str

        The register or field read: 'CTRL', 'CTRL.MODE'."""
        return self._reference

    @property
    def fields(self):
        """(self) -> dict[str, int]

        A register's fields by name (empty for a field or a register without fields)."""
        return dict(self._fields)

    @property
    def value_name(self):
        """(self) -> Optional[str]

        A field value's name in the map, or None."""
        return self._value_name

    def decode(self, value):
        """decode(self, value: int) -> str

        Another value of the same register or field, decoded the same way:
        'MODE=off(0) GAIN=3' or 'continuous(2)'."""
        return self._decode(int(value))

    def __eq__(self, other):
        if isinstance(other, str):
            return self._value_name is not None and other == self._value_name
        return int(self) == other

    def __ne__(self, other):
        return not self == other

    __hash__ = int.__hash__

    def __repr__(self):
        text = f"{self._reference}=0x{int(self):04x}"
        return f"{text} ({self._decoded})" if self._decoded else text


    def __reduce__(self):
        # The decoder lives in the module: a copy or a pickle keeps the number.
        return (int, (int(self),))
