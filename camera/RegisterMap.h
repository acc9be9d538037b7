// The board's registers by name: a map read from a JSON file, and the
// register references people type ("EXPOSURE", "CTRL.GAIN", "0x0010").
// Shared by pelvarctl and the panel; no GUI library.
//
//   {"registers": [{"name": "EXPOSURE", "address": "0x0010", "reset": "0x0000",
//                   "access": "rw", "width": 16, "scratch": false,
//                   "fields": [{"name": "GAIN", "lsb": 4, "width": 3}]}]}
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelvar {

enum class RegisterAccess { ReadWrite, ReadOnly, WriteOnly };

struct RegisterField {
    std::string name;
    unsigned lsb = 0;
    unsigned width = 1;
};

struct RegisterInfo {
    std::string name;
    std::uint16_t address = 0;
    unsigned width = 16; // bits that hold something, 1..16
    std::optional<std::uint16_t> reset;
    RegisterAccess access = RegisterAccess::ReadWrite;
    bool scratch = false; // free to overwrite: the self-test uses it
    std::vector<RegisterField> fields;
    int line = 0; // where the file defines it

    const RegisterField* Field(const std::string& fieldName) const;
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

    // Takes over `registers` after checking names and addresses are unique.
    bool Assign(std::vector<RegisterInfo> registers, const std::string& source, std::string* error);

private:
    std::vector<RegisterInfo> m_registers;
    std::string m_source;
};

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

const char* AccessName(RegisterAccess access);

} // namespace pelvar
