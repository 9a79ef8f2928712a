#!/usr/bin/lua
print('hi')
