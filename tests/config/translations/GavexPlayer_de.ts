<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>QLocalizer</name>
    <message>
        <source>Enter password:</source>
        <translation>Passwort eingeben:</translation>
    </message>
    <message>
        <source>Invalid password!</source>
        <translation>Ungültiges Passwort!</translation>
    </message>
</context>
</TS>
