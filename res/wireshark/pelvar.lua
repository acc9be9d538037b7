-- Pelvar camera board line: the frames pelvarctl --capture and the panel's
-- "Save capture..." write as pcapng (one packet a frame, DLT_USER0), with
-- requests paired to their replies as pelvar's traffic pane pairs them.
-- A capture of several boards has an interface per board, named after its
-- port: each board's frames are paired among themselves. Packets commented
-- as noise hold bytes that are no frame: they are shown, never paired.
-- The numbers and words above are generated from pelvar's tables.

local pelvar = Proto("pelvar", "Pelvar camera board line")

local directions = { [0] = "request (host to board)", [1] = "reply (board to host)" }
local fields = {
    direction = ProtoField.uint8("pelvar.direction", "Direction", base.DEC, directions),
    stx = ProtoField.uint8("pelvar.stx", "STX", base.HEX),
    len = ProtoField.uint8("pelvar.len", "Length", base.DEC),
    cmd = ProtoField.uint8("pelvar.cmd", "Command byte", base.HEX),
    command = ProtoField.string("pelvar.command", "Command"),
    payload = ProtoField.bytes("pelvar.payload", "Payload", base.SPACE),
    checksum = ProtoField.uint8("pelvar.checksum", "Checksum", base.HEX),
    checksum_ok = ProtoField.bool("pelvar.checksum_ok", "Checksum correct"),
    etx = ProtoField.uint8("pelvar.etx", "ETX", base.HEX),
    meaning = ProtoField.string("pelvar.meaning", "Meaning"),
    result = ProtoField.string("pelvar.result", "Result"),
    response_time = ProtoField.double("pelvar.response_time", "Response time (ms)"),
    request_in = ProtoField.framenum("pelvar.request_in", "Request in", base.NONE, frametype.REQUEST),
    reply_in = ProtoField.framenum("pelvar.reply_in", "Reply in", base.NONE, frametype.RESPONSE),
    port = ProtoField.string("pelvar.port", "Port"),
    noise = ProtoField.bytes("pelvar.noise", "Noise", base.SPACE),
}
pelvar.fields = fields

local ef_bad_checksum = ProtoExpert.new("pelvar.checksum_wrong", "Checksum wrong", expert.group.CHECKSUM, expert.severity.ERROR)
local ef_bad_end = ProtoExpert.new("pelvar.end_wrong", "End byte is not ETX", expert.group.MALFORMED, expert.severity.ERROR)
local ef_late = ProtoExpert.new("pelvar.late", "Reply outside the receive window", expert.group.SEQUENCE, expert.severity.WARN)
local ef_no_reply = ProtoExpert.new("pelvar.no_reply", "Request without a reply", expert.group.SEQUENCE, expert.severity.WARN)
pelvar.experts = { ef_bad_checksum, ef_bad_end, ef_late, ef_no_reply }

local interface_id = Field.new("frame.interface_id")
local interface_name = Field.new("frame.interface_name")
local comments = Field.new("frame.comment")

local function is_noise()
    for _, c in ipairs({ comments() }) do
        if tostring(c.value) == NOISE_COMMENT then return true end
    end
    return false
end

-- What the first pass learnt, by frame number; the request awaiting its
-- reply and the latched register address, by interface (a board each).
local seen = {}
local pending = {}
local latched = {}

local function le(bytes)
    local v = 0
    for i = #bytes, 1, -1 do v = v * 256 + bytes[i] end
    return v
end

local function hexbytes(bytes)
    local parts = {}
    for i, b in ipairs(bytes) do parts[i] = string.format("%02X", b) end
    return table.concat(parts, " ")
end

local function fill(template, values)
    return (template:gsub("{(%w+)}", values))
end

local function meaning(req, result, value, reg)
    local cmd, payload = req.cmd, req.payload
    local regtext = reg and string.format("0x%04x", reg) or TEMPLATES["unknown_reg"]
    if cmd == CMD_STATUS and req.query then
        if result == RESULT_OK then return STATUS[value % 256] end
        return TEMPLATES["status_failed"]
    end
    if cmd == CMD_REG_ADDRESS and #payload == 2 then
        return fill(TEMPLATES["reg_address"], { value = string.format("0x%04x", le(payload)) })
    end
    if cmd == CMD_REG_WRITE and #payload == 2 then
        return fill(TEMPLATES["reg_write"], { reg = regtext, value = string.format("0x%04x", le(payload)) })
    end
    if cmd == CMD_REG_READ and req.query then
        if result == RESULT_OK then
            return fill(TEMPLATES["reg_read"], { reg = regtext, value = string.format("0x%04x", value) })
        end
        return fill(TEMPLATES["reg_read_failed"], { reg = regtext })
    end
    if ADJUSTMENTS[cmd] and #payload == 4 then
        local v = le(payload)
        if v >= 0x80000000 then v = v - 0x100000000 end
        return fill(ADJUSTMENTS[cmd], { value = tostring(v) })
    end
    local text = COMMANDS[cmd] or string.format("0x%02x", cmd)
    if #payload > 0 then text = text .. " " .. hexbytes(payload) end
    return text
end

-- The host's verdict on the bytes one of its reads took, in the order
-- pelvar's link judges them (link/ReplyJudge.cpp).
local function judge_reply(bytes, room, query)
    local n, len = #bytes, bytes[2]
    if n < 3 or bytes[1] ~= STX or n < len + 3 or bytes[len + 3] ~= ETX then return RESULT_NO_REPLY end
    -- The host reads room + 5 bytes: a longer reply never completes.
    if len >= 2 and len - 2 > room then return RESULT_NO_REPLY end
    local sum = 0
    for i = 1, len + 1 do sum = bit.bxor(sum, bytes[i]) end
    if sum ~= bytes[len + 2] then return "LINK_ERR_CHECKSUM" end
    if len < 2 then return "LINK_ERR_REPLY_TOO_LONG" end
    if not query and bytes[4] ~= ACK then return "LINK_ERR_NAK" end
    return RESULT_OK
end

-- The result the host's receive comes to for `reply`, as pelvar names it.
local function result_of(req, reply, response_ms)
    if response_ms > WINDOW_MS then return RESULT_NO_REPLY, 0 end
    local room = req.query and QUERY_ROOM[req.cmd] or TRANSACT_ROOM
    local result = judge_reply(reply.bytes, room, req.query)
    if result ~= RESULT_OK or not req.query then return result, 0 end
    local payload = {}
    for i = 4, reply.len + 1 do payload[#payload + 1] = reply.bytes[i] end
    return result, le(payload)
end

function pelvar.dissector(tvb, pinfo, tree)
    local n = tvb:len()
    local id = interface_id()
    local board = id and id.value or 0
    local named = interface_name()
    local port = named and tostring(named.value) or nil
    -- Wireshark's name for an interface the file leaves unnamed (one board).
    if port == "unknown" then port = nil end
    local on = port and (port .. ": ") or ""
    local bytes = {}
    for i = 0, n - 1 do bytes[i + 1] = tvb(i, 1):uint() end
    if n > 0 and is_noise() then
        pinfo.cols.protocol = "Pelvar"
        local t = tree:add(pelvar, tvb(), "Pelvar noise: " .. hexbytes(bytes))
        if port then t:add(fields.port, port):set_generated() end
        t:add(fields.noise, tvb())
        pinfo.cols.info = on .. "noise " .. hexbytes(bytes)
        return n
    end
    if n < 3 then return 0 end
    pinfo.cols.protocol = "Pelvar"
    local frame = {
        bytes = bytes,
        len = bytes[2],
        cmd = n >= 5 and bytes[3] or 0,
        payload = {},
        end_ok = bytes[n] == ETX,
    }
    for i = 4, n - 2 do frame.payload[#frame.payload + 1] = bytes[i] end
    local sum = 0
    for i = 1, n - 2 do sum = bit.bxor(sum, bytes[i]) end
    frame.checksum_ok = sum == bytes[n - 1]
    frame.query = QUERY_ROOM[frame.cmd] ~= nil
    local is_request = pinfo.p2p_dir ~= 1

    if not pinfo.visited then
        local info = { request = is_request }
        local now_ms = pinfo.abs_ts * 1000
        if is_request then
            local lost = pending[board]
            -- Its reply never came: a lost latch leaves the register unknown.
            if lost and lost.cmd == CMD_REG_ADDRESS and #lost.payload == 2 then latched[board] = nil end
            frame.number, frame.at_ms, frame.reg = pinfo.number, now_ms, latched[board]
            info.meaning = meaning(frame, nil, 0, latched[board])
            info.command = COMMANDS[frame.cmd] or string.format("0x%02x", frame.cmd)
            info.failed_meaning = meaning(frame, RESULT_NO_REPLY, 0, latched[board])
            pending[board] = frame
        elseif pending[board] then
            local req = pending[board]
            -- Times are whole microseconds in the file.
            local response = math.floor((now_ms - req.at_ms) * 1000 + 0.5) / 1000
            local result, value = result_of(req, frame, response)
            info.meaning = meaning(req, result, value, req.reg)
            info.command = COMMANDS[req.cmd] or string.format("0x%02x", req.cmd)
            info.result, info.response, info.request_in = result, response, req.number
            seen[req.number].reply_in = pinfo.number
            if req.cmd == CMD_REG_ADDRESS and #req.payload == 2 then
                -- A refused or lost latch leaves the board's register unknown.
                latched[board] = result == RESULT_OK and le(req.payload) or nil
            end
            pending[board] = nil
        end
        seen[pinfo.number] = info
    end
    local info = seen[pinfo.number] or {}
    if pinfo.visited and info.request and not info.reply_in then
        -- Once the whole capture has been read (tshark -2, the GUI), a
        -- request that nothing answered failed.
        info.result, info.meaning = RESULT_NO_REPLY, info.failed_meaning
    end

    local t = tree:add(pelvar, tvb(), "Pelvar " .. (is_request and "request" or "reply") ..
        (info.meaning and (": " .. info.meaning) or ""))
    if port then t:add(fields.port, port):set_generated() end
    t:add(fields.direction, is_request and 0 or 1):set_generated()
    t:add(fields.stx, tvb(0, 1))
    t:add(fields.len, tvb(1, 1))
    if n >= 5 then
        t:add(fields.cmd, tvb(2, 1))
        if n > 5 then t:add(fields.payload, tvb(3, n - 5)) end
        local ck = t:add(fields.checksum, tvb(n - 2, 1))
        t:add(fields.checksum_ok, frame.checksum_ok):set_generated()
        if not frame.checksum_ok then ck:add_proto_expert_info(ef_bad_checksum) end
    end
    local et = t:add(fields.etx, tvb(n - 1, 1))
    if not frame.end_ok then et:add_proto_expert_info(ef_bad_end) end
    if info.command then t:add(fields.command, info.command):set_generated() end
    if info.meaning then t:add(fields.meaning, info.meaning):set_generated() end
    if info.result then
        local rt = t:add(fields.result, info.result):set_generated()
        if info.request then rt:add_proto_expert_info(ef_no_reply) end
    end
    if info.response then
        local rt = t:add(fields.response_time, info.response):set_generated()
        if info.response > WINDOW_MS then rt:add_proto_expert_info(ef_late) end
    end
    if info.request_in then t:add(fields.request_in, info.request_in):set_generated() end
    if info.reply_in then t:add(fields.reply_in, info.reply_in):set_generated() end

    if is_request then
        pinfo.cols.info = on .. "> " .. (info.meaning or hexbytes(bytes)) ..
            (info.result and ("  " .. info.result) or "")
    else
        pinfo.cols.info = on .. "< " .. (info.meaning or hexbytes(bytes)) ..
            (info.result and ("  " .. info.result) or "") ..
            (info.response and string.format("  %.0f ms", info.response) or "")
    end
    return n
end

function pelvar.init()
    seen, pending, latched = {}, {}, {}
end

local encaps = wtap_encaps or wtap
DissectorTable.get("wtap_encap"):add(encaps.USER0, pelvar)
