# Copies IN to OUT with CR LF line ends: windmc ends each message line with the line end it
# reads, and the event messages must end with "\r\n".
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
