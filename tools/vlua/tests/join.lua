-- Run by vlua with the command-line arguments in its super list.
function Join()
  local words = {}
  for i = 0, Count() - 1 do words[#words + 1] = ValueAtIndex(i) end
  return Count() .. ":" .. table.concat(words, ",")
end

function Nothing() end

function Fail() error("no luck", 0) end

-- The list has no such field: the store throws "ERROR" out of Lua.
function Store() super.nothing = 1 end
