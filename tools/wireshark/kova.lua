-- KOVA dissector for Wireshark and tshark.
--
-- KOVA finds networked video devices and changes their settings over UDP.
-- Requests open with "ADCT" and are broadcast to port 32154 from port 32153;
-- device replies open with "KOVA" and go to port 32153. The dissector is
-- registered on both ports and, as a heuristic, on any UDP datagram that opens
-- with either magic, so devices on other ports are recognised too.
--
-- Every read is checked against the captured bytes before it is made. A
-- datagram that does not fit its layout is shown as far as it goes and gets an
-- expert info of the malformed group ("kova.malformed") saying why.
--
-- Install: copy this file into a Wireshark Lua plugin folder (see README.md).

local kova = Proto("kova", "KOVA Device Protocol")

local TOOL_PORT = 32153
local DEVICE_PORT = 32154
local HEADER_SIZE = 9
local RESULT_SIZE = 15 -- header and device key
local CREDENTIAL_END = 46 -- bytes 15 to 45 hold the credential block
local MAX_REPLY = 278 -- the longest reply a tool receives whole

local bxor = (bit32 and bit32.bxor) or bit.bxor

local commands = { [3] = "Discovery", [4] = "Set configuration", [5] = "Set account" }
local kinds = {
    [0] = "Success: the change was applied",
    [1] = "Status 1: a result with no message of its own",
    [2] = "Authentication failed: the credentials were rejected",
    [5] = "Device information",
}
local kind_names = { [0] = "Success", [1] = "Status 1", [2] = "Authentication failed" }
local modes = { [0] = "DHCP", [1] = "Static IP", [2] = "PPPoE" }
local dns_modes = { [0] = "Automatic", [1] = "Manual" }
local av_protocols = { [0] = "N/A", [1] = "vsm", [2] = "rtp", [3] = "3gpp" }
local av_flags = { [0] = "X", [1] = "O" }
local guest_values = { [0] = "Not allowed", [1] = "Allowed" }

local f = {
    magic = ProtoField.string("kova.magic", "Magic"),
    version = ProtoField.uint8("kova.version", "Version"),
    length = ProtoField.uint16("kova.length", "Length"),
    command = ProtoField.uint8("kova.command", "Command", base.DEC, commands),
    kind = ProtoField.uint8("kova.kind", "Reply kind", base.DEC, kinds),
    device_byte = ProtoField.uint8("kova.device_byte", "Device byte", base.HEX),
    mac = ProtoField.ether("kova.mac", "Device key (MAC address)"),
    trailer = ProtoField.bytes("kova.trailer", "Version trailer"),
    text_length = ProtoField.uint8("kova.text_length", "Text length"),
    selector = ProtoField.uint8("kova.selector", "Selector"),

    cred = ProtoField.none("kova.cred", "Credential block"),
    user_id = ProtoField.string("kova.cred.user_id", "Administrator ID"),
    password_masked = ProtoField.bytes("kova.cred.password_masked", "Masked password"),
    mask_less1 = ProtoField.uint8("kova.cred.mask_less1", "Mask minus 1", base.HEX),
    noise = ProtoField.bytes("kova.cred.noise", "Noise"),
    mask = ProtoField.uint8("kova.cred.mask", "Mask", base.HEX),
    password = ProtoField.string("kova.cred.password", "Administrator password (recovered)"),

    mode = ProtoField.uint8("kova.net.mode", "Network mode", base.DEC, modes),
    ip = ProtoField.ipv4("kova.net.ip", "IP address"),
    netmask = ProtoField.ipv4("kova.net.netmask", "Net mask"),
    gateway = ProtoField.ipv4("kova.net.gateway", "Gateway"),
    dns = ProtoField.ipv4("kova.net.dns", "DNS server"),
    pppoe_user = ProtoField.string("kova.pppoe.user", "PPPoE user name"),
    pppoe_password = ProtoField.string("kova.pppoe.password", "PPPoE password"),
    pppoe_service = ProtoField.string("kova.pppoe.service", "PPPoE service name"),
    mtu = ProtoField.uint32("kova.pppoe.mtu", "MTU"),
    dns_mode = ProtoField.uint8("kova.pppoe.dns_mode", "DNS mode", base.DEC, dns_modes),
    pppoe_dns = ProtoField.ipv4("kova.pppoe.dns", "PPPoE DNS server"),

    model = ProtoField.string("kova.model", "Model name"),
    host = ProtoField.string("kova.host.name", "Host name"),
    domain = ProtoField.string("kova.host.domain", "Domain name"),

    guest = ProtoField.uint8("kova.guest", "Guest account", base.DEC, guest_values),
    new_masked = ProtoField.bytes("kova.account.password_masked", "Masked new password"),
    new_mask_less1 = ProtoField.uint8("kova.account.mask_less1", "New mask minus 1", base.HEX),
    new_noise = ProtoField.bytes("kova.account.noise", "Noise"),
    new_mask = ProtoField.uint8("kova.account.mask", "New mask", base.HEX),
    new_password = ProtoField.string("kova.account.new_password", "New password (recovered)"),

    byte16 = ProtoField.uint8("kova.info.byte16", "Byte 16 (not read)", base.HEX),
    unread = ProtoField.bytes("kova.info.unread", "Not read"),
    av1_port = ProtoField.uint16("kova.port.av1", "AV1 port"),
    web_port = ProtoField.uint16("kova.port.web", "Web port"),
    av2_port = ProtoField.uint16("kova.port.av2", "AV2 port"),
    conf = ProtoField.uint16("kova.port.conf", "Conf number"),
    fw_version = ProtoField.string("kova.fw.version", "Firmware version"),
    fw_major = ProtoField.uint8("kova.fw.major", "Firmware major"),
    fw_minor = ProtoField.uint8("kova.fw.minor", "Firmware minor"),
    fw_patch = ProtoField.uint8("kova.fw.patch", "Firmware patch"),
    fw_reserved = ProtoField.uint8("kova.fw.reserved", "Firmware reserved"),
    serial = ProtoField.string("kova.serial", "Serial number"),
    av1_protocol = ProtoField.uint8("kova.av1.protocol", "AV1 protocol", base.DEC, av_protocols),
    av2_protocol = ProtoField.uint8("kova.av2.protocol", "AV2 protocol", base.DEC, av_protocols),
    av1_flag = ProtoField.uint8("kova.av1.flag", "AV1 flag", base.DEC, av_flags),
    av2_flag = ProtoField.uint8("kova.av2.flag", "AV2 flag", base.DEC, av_flags),
}
local field_list = {}
for _, field in pairs(f) do
    field_list[#field_list + 1] = field
end
kova.fields = field_list

local e_malformed = ProtoExpert.new("kova.malformed", "Malformed KOVA datagram",
    expert.group.MALFORMED, expert.severity.ERROR)
local e_cleartext = ProtoExpert.new("kova.cleartext", "Clear-text credentials",
    expert.group.SECURITY, expert.severity.WARN)
local e_mask = ProtoExpert.new("kova.mask_mismatch", "Mask minus 1 does not match the mask",
    expert.group.PROTOCOL, expert.severity.WARN)
local e_oversize = ProtoExpert.new("kova.oversize", "Longer than the 278 bytes a tool receives",
    expert.group.PROTOCOL, expert.severity.WARN)
local e_cut = ProtoExpert.new("kova.cut", "Datagram cut short by the capture",
    expert.group.UNDECODED, expert.severity.WARN)
kova.experts = { e_malformed, e_cleartext, e_mask, e_oversize, e_cut }

-- Single-byte text (the devices' code page) as UTF-8, for generated fields.
local function latin1_to_utf8(bytes)
    return (bytes:gsub("[\128-\255]", function(c)
        local b = c:byte()
        return string.char(0xC0 + math.floor(b / 64), 0x80 + b % 64)
    end))
end

-- One datagram being dissected: the bytes, where reading must stop (the end
-- of the captured bytes), the datagram's own size (more when the capture cut
-- it) and the tree that problems are reported on.
local Datagram = {}
Datagram.__index = Datagram

local function new_datagram(tvb, tree, limit)
    return setmetatable({ tvb = tvb, tree = tree, limit = limit, size = tvb:reported_len(),
        problems = 0 }, Datagram)
end

function Datagram:fits(offset, width)
    return offset >= 0 and width >= 0 and offset + width <= self.limit
end

-- Reports a datagram that does not fit its layout. When the capture kept only
-- part of it, what is missing is no fault of the datagram: the finding is
-- shown as a consequence of the cut instead.
function Datagram:malformed(text, tree)
    if self.size > self.limit then
        (tree or self.tree):add_proto_expert_info(e_cut, text)
        return
    end
    (tree or self.tree):add_proto_expert_info(e_malformed, text)
    self.problems = self.problems + 1
end

function Datagram:u8(offset)
    return self.tvb(offset, 1):uint()
end

-- Adds a fixed-width field when it lies inside the datagram; reports it as
-- missing otherwise. Returns the item, or nil.
function Datagram:add(tree, field, offset, width, what, little_endian)
    if not self:fits(offset, width) then
        self:malformed(what .. " runs past the end of the datagram", tree)
        return nil
    end
    if little_endian then
        return tree:add_le(field, self.tvb(offset, width))
    end
    return tree:add(field, self.tvb(offset, width))
end

-- Adds a text field over [offset, offset + width): the text ends at the first
-- zero byte, as fixed-size fields are padded with zeros.
function Datagram:add_text(tree, field, offset, width)
    return tree:add_packet_field(field, self.tvb(offset, width), ENC_WINDOWS_1252)
end

-- A counted string at `offset`. Returns the offset after it and the text, or
-- nil when it does not fit.
function Datagram:counted(tree, field, offset, what)
    if not self:fits(offset, 1) then
        self:malformed("the length byte of the " .. what .. " lies past the end of the datagram",
            tree)
        return nil
    end
    local n = self:u8(offset)
    if not self:fits(offset + 1, n) then
        tree:add(f.text_length, self.tvb(offset, 1))
        self:malformed(string.format("the %s of %d bytes runs past the end of the datagram",
            what, n), tree)
        return nil
    end
    local text = n > 0 and self.tvb(offset + 1, n):raw() or ""
    local item = tree:add(field, self.tvb(offset, 1 + n), latin1_to_utf8(text))
    item:add(f.text_length, self.tvb(offset, 1))
    return offset + 1 + n, text
end

function Datagram:ipv4(tree, field, offset, what)
    return self:add(tree, field, offset, 4, what) ~= nil
end

-- Recovers a masked 16-byte secret: reversed, each byte XORed with the mask,
-- the zero bytes that come out being the padding.
local function recover(masked, mask)
    local out = {}
    for i = #masked, 1, -1 do
        local c = bxor(masked:byte(i), mask)
        if c == 0 then
            break
        end
        out[#out + 1] = string.char(c)
    end
    return table.concat(out)
end

local function ip_text(tvb, offset)
    return tostring(tvb(offset, 4):ipv4())
end

-- The PPPoE settings from `offset`: three counted strings, MTU, DNS mode and
-- DNS server. Returns the offset after them (nil when they do not fit) and
-- the user name.
local function dissect_pppoe(d, tree, offset)
    local user, password
    offset, user = d:counted(tree, f.pppoe_user, offset, "PPPoE user name")
    if offset then
        offset, password = d:counted(tree, f.pppoe_password, offset, "PPPoE password")
    end
    if password and #password > 0 then
        tree:add_proto_expert_info(e_cleartext, string.format(
            "Clear-text credentials: PPPoE user \"%s\", password \"%s\"",
            latin1_to_utf8(user), latin1_to_utf8(password)))
    end
    if offset then
        offset = d:counted(tree, f.pppoe_service, offset, "PPPoE service name")
    end
    if offset and d:add(tree, f.mtu, offset, 4, "MTU", true)
        and d:add(tree, f.dns_mode, offset + 4, 1, "DNS mode")
        and d:ipv4(tree, f.pppoe_dns, offset + 5, "PPPoE DNS server") then
        return offset + 9, user
    end
    return nil, user
end

---------------------------------------------------------------------------
-- Requests

-- Credential block at 15..45: as sent, and the ID and password recovered.
local function dissect_credential(d, tree)
    local tvb = d.tvb
    local block = tree:add(f.cred, tvb(15, 31))
    d:add_text(block, f.user_id, 16, 8)
    local mask = d:u8(45)
    block:add(f.password_masked, tvb(24, 16))
    local less1 = block:add(f.mask_less1, tvb(40, 1))
    block:add(f.noise, tvb(41, 4))
    block:add(f.mask, tvb(45, 1))
    if d:u8(40) ~= (mask + 255) % 256 then
        less1:add_proto_expert_info(e_mask)
    end
    local id = tvb(16, 8):raw():gsub("%z.*", "")
    local password = recover(tvb(24, 16):raw(), mask)
    local item = block:add(f.password, tvb(24, 16), latin1_to_utf8(password))
    item:set_generated()
    block:add_proto_expert_info(e_cleartext, string.format(
        "Clear-text credentials: administrator ID \"%s\", password \"%s\" (the masking is undone with the mask it carries)",
        latin1_to_utf8(id), latin1_to_utf8(password)))
    block:append_text(string.format(": ID \"%s\", password \"%s\"", latin1_to_utf8(id),
        latin1_to_utf8(password)))
end

-- Body of a set-configuration request (command 4), from byte 46 to `body_end`.
local function dissect_set_config(d, tree, selector, body_end)
    local tvb = d.tvb
    local body_limit = d.limit
    d.limit = body_end
    local summary
    if selector == 0 then
        summary = "DHCP"
        if body_end ~= CREDENTIAL_END then
            d:malformed(string.format("a DHCP request has no body, but %d bytes follow",
                body_end - CREDENTIAL_END))
        end
    elseif selector == 1 then
        summary = "static IP"
        if body_end < 62 then
            d:malformed(string.format("static IP settings take 16 bytes, %d follow the credentials",
                body_end - CREDENTIAL_END))
        else
            local net = tree:add(tvb(CREDENTIAL_END, 16), "Static IP settings")
            net:add(f.ip, tvb(46, 4))
            net:add(f.netmask, tvb(50, 4))
            net:add(f.gateway, tvb(54, 4))
            net:add(f.dns, tvb(58, 4))
            summary = summary .. " " .. ip_text(tvb, 46)
            if body_end > 62 then
                d:malformed(string.format("%d bytes follow the static IP settings", body_end - 62))
            end
        end
    elseif selector == 2 then
        summary = "PPPoE"
        local net = tree:add(tvb(CREDENTIAL_END, 0), "PPPoE settings")
        local offset, user = dissect_pppoe(d, net, CREDENTIAL_END)
        if offset then
            net:set_len(offset - CREDENTIAL_END)
            if offset < body_end then
                d:malformed(string.format("%d bytes follow the PPPoE settings", body_end - offset))
            end
        end
        if user then summary = summary .. " user " .. latin1_to_utf8(user) end
    elseif selector == 3 then
        summary = "host name"
        local names = tree:add(tvb(CREDENTIAL_END, 0), "Host and domain name")
        local offset, host = d:counted(names, f.host, 46, "host name")
        local domain
        if offset then offset, domain = d:counted(names, f.domain, offset, "domain name") end
        if offset then
            names:set_len(offset - CREDENTIAL_END)
            summary = string.format("host name %s, domain %s", latin1_to_utf8(host),
                latin1_to_utf8(domain))
            if offset < body_end then
                d:malformed(string.format("%d bytes follow the domain name", body_end - offset))
            end
        end
    else
        d:malformed(string.format("unknown selector %d of a set-configuration request", selector))
    end
    d.limit = body_limit
    return summary
end

-- Body of a set-account request (command 5): bytes 46 to 68.
local function dissect_set_account(d, tree, selector, body_end)
    local tvb = d.tvb
    if selector ~= 1 then
        d:malformed(string.format("unknown selector %d of a set-account request", selector))
    end
    if body_end ~= 69 then
        d:malformed(string.format("a set-account request holds 69 bytes before its trailer, this one %d",
            body_end))
        if body_end < 69 then
            return nil
        end
    end
    local account = tree:add(tvb(46, 23), "Account")
    account:add(f.guest, tvb(46, 1))
    local block = account:add(f.new_masked, tvb(47, 16))
    local less1 = account:add(f.new_mask_less1, tvb(63, 1))
    account:add(f.new_noise, tvb(64, 4))
    account:add(f.new_mask, tvb(68, 1))
    local mask = d:u8(68)
    if d:u8(63) ~= (mask + 255) % 256 then
        less1:add_proto_expert_info(e_mask)
    end
    local new_password = recover(tvb(47, 16):raw(), mask)
    account:add(f.new_password, tvb(47, 16), latin1_to_utf8(new_password)):set_generated()
    block:add_proto_expert_info(e_cleartext, string.format(
        "Clear-text credentials: new administrator password \"%s\" (the masking is undone with the mask it carries)",
        latin1_to_utf8(new_password)))
    return string.format("guest %s, new password set",
        d:u8(46) ~= 0 and "allowed" or "not allowed")
end

local function dissect_request(d, tree)
    local tvb = d.tvb
    local size = d.limit
    local version = d:u8(4)
    local length = tvb(5, 2):le_uint()
    local command = d:u8(7)
    tree:add(f.magic, tvb(0, 4))
    tree:add(f.version, tvb(4, 1))
    local length_item = tree:add_le(f.length, tvb(5, 2))
    tree:add(f.command, tvb(7, 1))
    tree:add(f.device_byte, tvb(8, 1))
    if length ~= d.size then
        d:malformed(string.format("length field %d, but the datagram holds %d bytes", length,
            d.size), length_item)
    end

    -- Bytes before the trailer, which versions 4 and up append.
    local body_end = math.min(length, size)
    if version >= 4 then
        if body_end >= HEADER_SIZE + 3 and tvb(body_end - 3, 3):raw() == "\224\0\0" then
            body_end = body_end - 3
        else
            d:malformed(string.format("a version %d request lacks its E0 00 00 trailer", version))
        end
    end

    local info
    if command == 3 then
        info = string.format("Discovery request, version %d", version)
        if body_end ~= HEADER_SIZE then
            d:malformed(string.format("a discovery request holds 9 bytes before its trailer, this one %d",
                body_end))
        end
        if d:u8(8) ~= 0xFF then
            d:malformed("byte 8 of a discovery request is not FF")
        end
    elseif command == 4 or command == 5 then
        if body_end < CREDENTIAL_END then
            d:malformed(string.format("a configuration request of %d bytes is shorter than its credential block",
                body_end))
            if d:fits(9, 6) then
                tree:add(f.mac, tvb(9, 6))
            end
            return "Configuration request (truncated)"
        end
        tree:add(f.mac, tvb(9, 6))
        local selector = d:u8(15)
        local selector_item = tree:add(f.selector, tvb(15, 1))
        local summary
        if command == 4 then
            if selector <= 2 then
                tree:add(f.mode, tvb(15, 1))
                selector_item:append_text(" (network mode " .. modes[selector] .. ")")
            elseif selector == 3 then
                selector_item:append_text(" (host name)")
            end
            dissect_credential(d, tree)
            summary = dissect_set_config(d, tree, selector, body_end)
            info = "Set network"
            if selector == 3 then info = "Set host name" end
        else
            if selector == 1 then selector_item:append_text(" (account)") end
            dissect_credential(d, tree)
            summary = dissect_set_account(d, tree, selector, body_end)
            info = "Set account"
        end
        info = string.format("%s request to %s, version %d%s", info, tostring(tvb(9, 6):ether()),
            version, summary and (": " .. summary) or "")
    else
        d:malformed(string.format("unknown command %d", command))
        info = string.format("Request with unknown command %d", command)
    end
    if body_end < math.min(length, size) then
        tree:add(f.trailer, tvb(body_end, 3))
    end
    return info
end

---------------------------------------------------------------------------
-- Replies

-- The tail of a device-information reply, located from the length field.
local function tail_size(version)
    return version >= 5 and 39 or 31
end

-- Where the tail starts, or nil (reported) when it does not lie in the datagram.
local function tail_start(d, length, version)
    local size = tail_size(version)
    if length > d.limit then
        d:malformed(string.format("length field %d points past the end of the datagram (%d bytes): no tail read",
            length, d.limit))
        return nil
    end
    if length < size then
        d:malformed(string.format("length field %d is shorter than the %d-byte tail of version %d: no tail read",
            length, size, version))
        return nil
    end
    return length - size
end

local function dissect_tail(d, tree, t, length, version)
    local tvb = d.tvb
    local width = tail_size(version)
    local tail = tree:add(tvb(t, width), string.format("Tail (%d bytes, from length field %d)",
        width, length))
    tail:add(f.guest, tvb(t, 1))
    tail:add(f.unread, tvb(t + 1, 6))
    local fields = tail
    if version < 3 then
        fields = tail:add(tvb(t + 7, 24), "Ports and firmware (tools do not read them below version 3)")
    end
    fields:add_le(f.av1_port, tvb(t + 7, 2))
    fields:add_le(f.web_port, tvb(t + 9, 2))
    local major, minor, patch = d:u8(t + 11), d:u8(t + 12), d:u8(t + 13)
    local fw = fields:add(f.fw_version, tvb(t + 11, 4), string.format("%d.%d.%d", major, minor, patch))
    fw:add(f.fw_major, tvb(t + 11, 1))
    fw:add(f.fw_minor, tvb(t + 12, 1))
    fw:add(f.fw_patch, tvb(t + 13, 1))
    fw:add(f.fw_reserved, tvb(t + 14, 1))
    d:add_text(fields, f.serial, t + 15, 16)
    if version >= 5 then
        tail:add_le(f.av2_port, tvb(t + 31, 2))
        tail:add_le(f.conf, tvb(t + 33, 2))
        tail:add(f.av1_protocol, tvb(t + 35, 1))
        tail:add(f.av2_protocol, tvb(t + 36, 1))
        tail:add(f.av1_flag, tvb(t + 37, 1))
        tail:add(f.av2_flag, tvb(t + 38, 1))
    end
end

local function dissect_device_info(d, tree, length, version)
    local tvb = d.tvb
    local mac = tostring(tvb(9, 6):ether())
    if not d:fits(15, 2) then
        d:malformed("the device information ends inside its fixed fields")
        return string.format("Device information from %s (truncated)", mac)
    end
    local mode = d:u8(15)
    local mode_item = tree:add(f.mode, tvb(15, 1))
    if modes[mode] == nil then
        mode_item:append_text(" (unknown)")
    end
    tree:add(f.byte16, tvb(16, 1))

    local offset, model, host = 17, nil, nil
    offset, model = d:counted(tree, f.model, offset, "model name")
    if offset then offset, host = d:counted(tree, f.host, offset, "host name") end
    if offset then offset = d:counted(tree, f.domain, offset, "domain name") end
    local walked = nil
    if offset then
        local p = offset
        local net = tree:add(tvb(p, 0), "Network settings")
        if d:ipv4(net, f.ip, p, "IP address") and d:ipv4(net, f.netmask, p + 4, "net mask")
            and d:ipv4(net, f.gateway, p + 8, "gateway") and d:ipv4(net, f.dns, p + 12, "DNS server") then
            walked = dissect_pppoe(d, net, p + 16)
            if walked then
                net:set_len(walked - p)
            end
        end
    end

    local t = tail_start(d, length, version)
    if walked and t then
        if walked > t then
            d:malformed(string.format("the settings end at byte %d, inside the tail that starts at %d",
                walked, t))
        elseif walked < t then
            tree:add(f.unread, tvb(walked, t - walked))
        end
    end
    if t then
        dissect_tail(d, tree, t, length, version)
    end

    local info = string.format("Device information from %s, version %d", mac, version)
    if model and #model > 0 then
        info = info .. ": " .. latin1_to_utf8(model)
        if host and #host > 0 then info = info .. " (" .. latin1_to_utf8(host) .. ")" end
    end
    return info
end

local function dissect_reply(d, tree)
    local tvb = d.tvb
    local size = d.limit
    tree:add(f.magic, tvb(0, 4))
    if size < HEADER_SIZE then
        d:malformed(string.format("a reply of %d bytes is shorter than its header", size))
        return "Reply (truncated)"
    end
    local version = d:u8(4)
    local length = tvb(5, 2):le_uint()
    local kind = d:u8(7)
    tree:add(f.version, tvb(4, 1))
    local length_item = tree:add_le(f.length, tvb(5, 2))
    local kind_item = tree:add(f.kind, tvb(7, 1))
    tree:add(f.device_byte, tvb(8, 1))
    if not d:fits(9, 6) then
        d:malformed("the reply ends inside its device key")
        return "Reply (truncated)"
    end
    tree:add(f.mac, tvb(9, 6))
    if length ~= d.size then
        d:malformed(string.format("length field %d, but the datagram holds %d bytes", length,
            d.size), length_item)
    end
    local mac = tostring(tvb(9, 6):ether())
    if kind == 5 then
        if size > MAX_REPLY then
            tree:add_proto_expert_info(e_oversize, string.format(
                "%d bytes: a tool keeps only the first %d", size, MAX_REPLY))
        end
        return dissect_device_info(d, tree, length, version)
    end
    if kind_names[kind] then
        if size > RESULT_SIZE then
            tree:add(f.unread, tvb(RESULT_SIZE, size - RESULT_SIZE))
        end
        return string.format("Result from %s: %s", mac, kind_names[kind])
    end
    kind_item:append_text(" (not used)")
    d:malformed(string.format("unknown reply kind %d", kind))
    return string.format("Reply of unknown kind %d from %s", kind, mac)
end

---------------------------------------------------------------------------

function kova.dissector(tvb, pinfo, tree)
    local size = tvb:len()
    pinfo.cols.protocol = "KOVA"
    local root = tree:add(kova, tvb())
    local d = new_datagram(tvb, root, size)
    if d.size > size then
        root:add_proto_expert_info(e_cut, string.format(
            "the capture kept %d of the datagram's %d bytes: fields past them are missing", size,
            d.size))
    end
    local magic = size >= 4 and tvb(0, 4):raw() or ""
    local info
    if magic == "ADCT" and size >= HEADER_SIZE then
        info = dissect_request(d, root)
    elseif magic == "ADCT" then
        tree:add(f.magic, tvb(0, 4))
        d:malformed(string.format("a request of %d bytes is shorter than its header", size))
        info = "Request (truncated)"
    elseif magic == "KOVA" then
        info = dissect_reply(d, root)
    else
        d:malformed("the datagram does not open with \"ADCT\" or \"KOVA\"")
        info = "Not a KOVA datagram"
    end
    if d.problems > 0 then
        info = info .. " [malformed]"
    elseif d.size > size then
        info = info .. " [cut by the capture]"
    end
    pinfo.cols.info = info
    root:append_text(", " .. info)
    return size
end

local function heuristic(tvb, pinfo, tree)
    if tvb:len() < 4 then
        return false
    end
    local magic = tvb(0, 4):raw()
    if magic ~= "ADCT" and magic ~= "KOVA" then
        return false
    end
    kova.dissector(tvb, pinfo, tree)
    return true
end

local udp_port = DissectorTable.get("udp.port")
udp_port:add(TOOL_PORT, kova)
udp_port:add(DEVICE_PORT, kova)
kova:register_heuristic("udp", heuristic)
