// The board's registers by name: a map read from a JSON file, and the
// register references people type ("EXPOSURE", "CTRL.GAIN", "0x0010").
// Shared by pelvarctl and the panel; no GUI library.
//
//   {"registers": [{"name": "EXPOSURE", "address": "0x0010", "reset": "0x0000",
//                   "access": "rw", "width": 16, "scratch": false,
//                   "fields": [{"name": "GAIN", "lsb": 4, "width": 3}]}]}
//
// Beyond rw/ro/wo a register may be "w1c" (bits written as 1 clear), "rc"
// (a read clears or changes it, so nothing reads it unless it is named) or
// "volatile" (changes by itself); a field may be "w1c" within an rw register.
// Fields may name their values: "values": {"off": 0, "continuous": 2}.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pelvar {

enum class RegisterAccess { ReadWrite, ReadOnly, WriteOnly, Write1Clear, ReadClears, Volatile };

struct RegisterField {
    std::string name;
    unsigned lsb = 0;
    unsigned width = 1;
    bool w1c = false; // bits written as 1 clear: a write of another field writes 0 here
    std::vector<std::pair<std::string, std::uint16_t>> values; // named values, in file order
    std::string description;

    // The value's name, or null.
    const std::string* ValueName(std::uint16_t value) const;
};

struct RegisterInfo {
    std::string name;
    std::uint16_t address = 0;
    unsigned width = 16; // bits that hold something, 1..16
    std::optional<std::uint16_t> reset;
    RegisterAccess access = RegisterAccess::ReadWrite;
    bool scratch = false; // free to overwrite: the self-test uses it
    std::vector<RegisterField> fields;
    std::string description;
    int line = 0; // where the file defines it

    const RegisterField* Field(const std::string& fieldName) const;
    bool Readable() const { return access != RegisterAccess::WriteOnly; }
    bool Writable() const { return access != RegisterAccess::ReadOnly; }
    // A read clears or changes it: read only when named.
    bool ReadDisturbs() const { return access == RegisterAccess::ReadClears; }
    // Bits that a write of 1 clears: the whole register for w1c, else its w1c fields.
    std::uint16_t W1cMask() const;
};

class RegisterMap {
public:
    // Registers in address order.
    const std::vector<RegisterInfo>& Registers() const { return m_registers; }
    bool Empty() const { return m_registers.empty(); }
    const RegisterInfo* Find(const std::string& name) const;
    const RegisterInfo* FindAddress(std::uint16_t address) const;
    const RegisterInfo* FirstScratch() const;
    // The file it came from; empty for no map.
    const std::string& Source() const { return m_source; }
    // FNV-1a (64 bits) of the file's bytes, as 16 hexadecimal digits; empty for no map.
    const std::string& Hash() const { return m_hash; }

    // Takes over `registers` after checking names and addresses are unique.
    bool Assign(std::vector<RegisterInfo> registers, const std::string& source, std::string* error);
    void SetHash(std::string hash) { m_hash = std::move(hash); }

private:
    std::vector<RegisterInfo> m_registers;
    std::string m_source;
    std::string m_hash;
};

// FNV-1a, 64 bits, as 16 lower-case hexadecimal digits.
std::string Fnv1a64Hex(const std::string& bytes);

// Parses the map's JSON text. On failure *error is one line:
// "SOURCE:LINE: what is wrong".
bool ParseRegisterMap(const std::string& text, const std::string& source, RegisterMap* map, std::string* error);
bool LoadRegisterMap(const std::string& path, RegisterMap* map, std::string* error);

// $XDG_CONFIG_HOME/pelvar/registers.json (XDG_CONFIG_HOME defaults to
// ~/.config); empty when neither variable is set.
std::string DefaultRegisterMapPath();

// "0x00fe": addresses and register contents as the texts show them.
std::string Hex16(std::uint16_t value);

// A 16-bit number as typed: hexadecimal with an optional 0x prefix. False
// for anything else, and for a value over 0xFFFF.
bool ParseHex16(const std::string& text, std::uint16_t* value);

// What a register reference names. Without a field the whole register.
struct RegisterTarget {
    std::uint16_t address = 0;
    const RegisterInfo* reg = nullptr; // the map's entry, when there is one
    const RegisterField* field = nullptr;
};

// "0x10" is always a number; any other text is a name of the map (or
// NAME.FIELD) first and a hexadecimal number otherwise.
bool ResolveRegister(const RegisterMap& map, const std::string& text, RegisterTarget* target, std::string* error);

// The field's bits within the register.
std::uint16_t FieldMask(const RegisterField& field);
std::uint16_t ExtractField(std::uint16_t registerValue, const RegisterField& field);
// The register value with the field replaced; `fieldValue` must fit the field.
std::uint16_t InsertField(std::uint16_t registerValue, const RegisterField& field, std::uint16_t fieldValue);
// What a field write sends after reading `registerValue`: the field replaced
// and every other w1c bit 0, so that the write clears nothing else.
std::uint16_t FieldWriteValue(const RegisterInfo& reg, std::uint16_t registerValue, const RegisterField& field,
                              std::uint16_t fieldValue);

// A field's value as typed: one of its names first, else hexadecimal (0x
// optional). False with *error one line when it is neither or does not fit.
bool EncodeFieldValue(const RegisterField& field, const std::string& text, std::uint16_t* value, std::string* error);

struct DecodedField {
    const RegisterField* field = nullptr;
    std::uint16_t value = 0;
    const std::string* valueName = nullptr; // null: the value has no name
};
std::vector<DecodedField> DecodeRegister(const RegisterInfo& reg, std::uint16_t value);
// "MODE=continuous(2) GAIN=3 EN=1": the fields in file order, numbers in decimal.
std::string DecodedText(const RegisterInfo& reg, std::uint16_t value);
// "continuous(2)", or "3" for a value without a name.
std::string FieldValueText(const DecodedField& d);

// "rw", "ro", "wo", "w1c", "rc", "volatile": as the map spells them.
const char* AccessName(RegisterAccess access);

} // namespace pelvar
