<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>QObject</name>
    <message>
        <source>Can&apos;t run multiple instances of the application.</source>
        <translation>Невозможно запустить несколько экземпляров приложения.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>TundraRecorder Server</source>
        <translation>Сервер TundraRecorder</translation>
    </message>
    <message>
        <source>TundraRecorder Client</source>
        <translation>Клиент TundraRecorder</translation>
    </message>
</context>
</TS>
