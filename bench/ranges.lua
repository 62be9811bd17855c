-- wrk script: every request asks for one random 1 MiB range of a file of
-- SIZE bytes and for the connection to close after the answer, as the
-- recorder's server always does.
--
--   wrk ... -s ranges.lua URL -- SIZE

local piece = 1048576
local size = piece

function init(args)
  size = tonumber(args[1]) or piece
  -- Each wrk thread has its own Lua state; the table's address tells them apart.
  local salt = tonumber(tostring({}):match("0x(%x+)") or "0", 16) % 1000003
  math.randomseed(os.time() + salt)
end

function request()
  local start = math.random(0, size - piece)
  return wrk.format("GET", nil, {
    ["Range"] = "bytes=" .. start .. "-" .. (start + piece - 1),
    ["Connection"] = "close",
  })
end
