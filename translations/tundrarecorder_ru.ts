<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>AudioRecorder</name>
    <message>
        <source>input %1, archive %2</source>
        <translation>вход %1, архив %2</translation>
    </message>
    <message>
        <source>input lost</source>
        <translation>вход потерян</translation>
    </message>
    <message>
        <source>writer failed</source>
        <translation>сбой записи</translation>
    </message>
</context>
<context>
    <name>EventPanel</name>
    <message>
        <source>Event types</source>
        <translation>Типы событий</translation>
    </message>
    <message>
        <source>Referee events (%1)</source>
        <translation>События судьи (%1)</translation>
    </message>
    <message>
        <source>Remote events (%1)</source>
        <translation>Внешние события (%1)</translation>
    </message>
    <message>
        <source>Mark an event at the replay position</source>
        <translation>Отметить событие в точке повтора</translation>
    </message>
    <message>
        <source>Comment</source>
        <translation>Комментарий</translation>
    </message>
    <message>
        <source>Mark</source>
        <translation>Отметить</translation>
    </message>
</context>
<context>
    <name>KXVideoRecorder</name>
    <message>
        <source>input %1, encoder %2, archive %3</source>
        <translation>вход %1, кодер %2, архив %3</translation>
    </message>
    <message>
        <source>input lost</source>
        <translation>вход потерян</translation>
    </message>
    <message>
        <source>encoder failed</source>
        <translation>сбой кодера</translation>
    </message>
    <message>
        <source>writer failed</source>
        <translation>сбой записи</translation>
    </message>
</context>
<context>
    <name>NetworkVideoRecorder</name>
    <message>
        <source>input %1, encoder %2, archive %3</source>
        <translation>вход %1, кодер %2, архив %3</translation>
    </message>
    <message>
        <source>input lost</source>
        <translation>вход потерян</translation>
    </message>
    <message>
        <source>encoder failed</source>
        <translation>сбой кодера</translation>
    </message>
    <message>
        <source>writer failed</source>
        <translation>сбой записи</translation>
    </message>
</context>
<context>
    <name>NodeStatus</name>
    <message>
        <source>starting</source>
        <translation>запуск</translation>
    </message>
    <message>
        <source>error</source>
        <translation>ошибка</translation>
    </message>
    <message>
        <source>idle</source>
        <translation>ожидание</translation>
    </message>
    <message>
        <source>ready</source>
        <translation>готов</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>сбой</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Can&apos;t run multiple instances of the application.</source>
        <translation>Невозможно запустить несколько экземпляров приложения.</translation>
    </message>
</context>
<context>
    <name>Recording</name>
    <message>
        <source>disk full</source>
        <translation>диск заполнен</translation>
    </message>
    <message>
        <source>archive read-only</source>
        <translation>архив только для чтения</translation>
    </message>
    <message>
        <source>stream taken by another source</source>
        <translation>поток занят другим источником</translation>
    </message>
    <message>
        <source>write error</source>
        <translation>ошибка записи</translation>
    </message>
    <message>
        <source>writer failed (%1)</source>
        <translation>сбой записи (%1)</translation>
    </message>
</context>
<context>
    <name>ReplaySession</name>
    <message>
        <source>camera %1: %2</source>
        <translation>камера %1: %2</translation>
    </message>
</context>
<context>
    <name>SourceTile</name>
    <message>
        <source>no stream</source>
        <translation>нет потока</translation>
    </message>
    <message>
        <source>recording</source>
        <translation>запись</translation>
    </message>
    <message>
        <source>media unavailable</source>
        <translation>медиа недоступны</translation>
    </message>
    <message>
        <source>Media types unavailable:
%1</source>
        <translation>Медиатипы недоступны:
%1</translation>
    </message>
    <message>
        <source>Waiting for the archive stream</source>
        <translation>Ожидание потока архива</translation>
    </message>
    <message>
        <source>Audio</source>
        <translation>Звук</translation>
    </message>
    <message>
        <source>Recorded %1, %2</source>
        <translation>Записано %1, %2</translation>
    </message>
    <message>
        <source>referee application not answering since %1</source>
        <translation>приложение судьи не отвечает с %1</translation>
    </message>
    <message>
        <source>not recording: %1</source>
        <translation>запись не идёт: %1</translation>
    </message>
    <message>
        <source>not recording: input lost</source>
        <translation>запись не идёт: вход потерян</translation>
    </message>
    <message>
        <source>not recording</source>
        <translation>запись не идёт</translation>
    </message>
    <message>
        <source>starting</source>
        <translation>запуск</translation>
    </message>
    <message>
        <source>Recorded %1, %2 frames stored, %3 lost, %4</source>
        <translation>Записано %1, кадров сохранено %2, потеряно %3, %4</translation>
    </message>
</context>
<context>
    <name>StorageStatsView</name>
    <message>
        <source>%1 (%2), %3</source>
        <translation>%1 (%2), %3</translation>
    </message>
    <message>
        <source>On disk %1 (locked %2)</source>
        <translation>На диске %1 (защищено %2)</translation>
    </message>
    <message>
        <source>Written %1 frames, %2; now %3 frames/s, %4/s</source>
        <translation>Записано кадров: %1, %2; сейчас %3 кадр/с, %4/с</translation>
    </message>
    <message>
        <source>Read %1 frames, %2; now %3 frames/s</source>
        <translation>Прочитано кадров: %1, %2; сейчас %3 кадр/с</translation>
    </message>
</context>
<context>
    <name>StreamBrowser</name>
    <message>
        <source>Archive</source>
        <translation>Архив</translation>
    </message>
    <message>
        <source>No storage listed yet</source>
        <translation>Хранилищ пока нет</translation>
    </message>
    <message>
        <source>%1  (%2, %3)</source>
        <translation>%1  (%2, %3)</translation>
    </message>
    <message>
        <source>%1 - %2, %3 sequences</source>
        <translation>%1 - %2, последовательностей: %3</translation>
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
    <message>
        <source>Play</source>
        <translation>Пуск</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Пауза</translation>
    </message>
    <message>
        <source>Space</source>
        <translation>Пробел</translation>
    </message>
    <message>
        <source>◀ Frame</source>
        <translation>◀ Кадр</translation>
    </message>
    <message>
        <source>Frame ▶</source>
        <translation>Кадр ▶</translation>
    </message>
    <message>
        <source>Rate %1</source>
        <translation>Скорость %1</translation>
    </message>
    <message>
        <source>Full</source>
        <translation>Полное</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Просмотр</translation>
    </message>
    <message>
        <source>Follow recording</source>
        <translation>За записью</translation>
    </message>
    <message>
        <source>Live</source>
        <translation>Прямой эфир</translation>
    </message>
    <message>
        <source>Sound</source>
        <translation>Звук</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>Идёт запись</translation>
    </message>
    <message>
        <source>Archive closed</source>
        <translation>Архив закрыт</translation>
    </message>
    <message>
        <source>Archive open</source>
        <translation>Архив открыт</translation>
    </message>
    <message>
        <source>Recorded %1</source>
        <translation>Записано %1</translation>
    </message>
    <message>
        <source>Click the timeline or an event to replay</source>
        <translation>Щёлкните по шкале времени или по событию для повтора</translation>
    </message>
    <message>
        <source>Range %1 - %2</source>
        <translation>Интервал %1 - %2</translation>
    </message>
    <message>
        <source>Replay unavailable: %1</source>
        <translation>Повтор недоступен: %1</translation>
    </message>
    <message>
        <source>playing</source>
        <translation>воспроизведение</translation>
    </message>
    <message>
        <source>Replay is not available on this station:
%1</source>
        <translation>Повтор на этой станции недоступен:
%1</translation>
    </message>
    <message>
        <source>Timeline</source>
        <translation>Шкала времени</translation>
    </message>
    <message>
        <source>1 minute</source>
        <translation>1 минута</translation>
    </message>
    <message>
        <source>5 minutes</source>
        <translation>5 минут</translation>
    </message>
    <message>
        <source>15 minutes</source>
        <translation>15 минут</translation>
    </message>
    <message>
        <source>1 hour</source>
        <translation>1 час</translation>
    </message>
    <message>
        <source>All</source>
        <translation>Всё</translation>
    </message>
    <message>
        <source>Replay length</source>
        <translation>Длина повтора</translation>
    </message>
    <message>
        <source>Writing</source>
        <translation>Запись</translation>
    </message>
    <message>
        <source>Closed</source>
        <translation>Закрыт</translation>
    </message>
    <message>
        <source>Reading</source>
        <translation>Чтение</translation>
    </message>
    <message>
        <source>Archive: %1</source>
        <translation>Архив: %1</translation>
    </message>
    <message>
        <source>Started: %1</source>
        <translation>Начало: %1</translation>
    </message>
    <message>
        <source>Duration: %1</source>
        <translation>Длительность: %1</translation>
    </message>
    <message>
        <source>Disk: %1</source>
        <translation>Диск: %1</translation>
    </message>
    <message>
        <source>Streams: %1 of %2</source>
        <translation>Потоки: %1 из %2</translation>
    </message>
    <message>
        <source>Storages</source>
        <translation>Хранилища</translation>
    </message>
    <message>
        <source>No storage listed yet</source>
        <translation>Хранилищ пока нет</translation>
    </message>
    <message>
        <source>Drives</source>
        <translation>Диски</translation>
    </message>
    <message>
        <source>%1: %2 free of %3</source>
        <translation>%1: свободно %2 из %3</translation>
    </message>
    <message>
        <source>Memory</source>
        <translation>Память</translation>
    </message>
    <message>
        <source>%1 free of %2</source>
        <translation>свободно %1 из %2</translation>
    </message>
    <message>
        <source>10 s</source>
        <translation>10 с</translation>
    </message>
    <message>
        <source>30 s</source>
        <translation>30 с</translation>
    </message>
    <message>
        <source>1 min</source>
        <translation>1 мин</translation>
    </message>
    <message>
        <source>5 min</source>
        <translation>5 мин</translation>
    </message>
    <message>
        <source>Referee application not answering since %1</source>
        <translation>Приложение судьи не отвечает с %1</translation>
    </message>
</context>
</TS>
