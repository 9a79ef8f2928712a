for i = 1, 10, 2 do if i % 3 == 0 then break elseif i > 7 then goto done end end
::done::
while false do end
repeat local x = 1 until x
