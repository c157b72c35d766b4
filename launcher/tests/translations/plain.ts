<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru">
<context>
    <name>probe</name>
    <message>
        <source>plain</source>
        <translation>plain any</translation>
    </message>
</context>
</TS>
