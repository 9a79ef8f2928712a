local s = 'a\tb\x41\u{20AC}\z
  c' .. [==[long
]] string]==]
local n = 0x1p4 + 3e-2 + 0xff // 7 ~ 5 << 2
-- a comment
--[[ long
comment ]]
return #s, n
