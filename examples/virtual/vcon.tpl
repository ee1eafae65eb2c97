# Terminal template for the redirected console: 80x25, vt100+ key map.
columns=80
rows=25
keymap=vt100+
