// The Video for Windows decompressors and the stored-format checks.

#include "codecs/codecs.h"
#include "codecs/storedformats.h"
#include "codecs/vfw.h"
#include "com/com.h"
#include "mediasamples.h"

#include <QtTest>
#include <cmath>
#include <cstring>
#include <limits>

using namespace nyx::codecs;

namespace {
constexpr int kWidth = 320, kHeight = 240;
constexpr DWORD kVIDC = 0x43444956; // 'VIDC' as the codec stream passes it

QByteArray videoFormat(DWORD compression, LONG width, LONG height, const QByteArray &extra = {})
{
    BITMAPINFOHEADER header{};
    header.biSize = static_cast<DWORD>(sizeof header + extra.size());
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 16;
    header.biCompression = compression;
    return QByteArray(reinterpret_cast<const char *>(&header), sizeof header) + extra;
}

BITMAPINFOHEADER yuy2Format(LONG width, LONG height)
{
    BITMAPINFOHEADER out{};
    out.biSize = sizeof out;
    out.biWidth = width;
    out.biHeight = height;
    out.biPlanes = 1;
    out.biBitCount = 16;
    out.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
    out.biSizeImage = static_cast<DWORD>(width * height * 2);
    return out;
}

// The picture's planar 4:2:2 samples packed as YUY2 by hand.
QByteArray packYuy2(const AVFrame *p)
{
    QByteArray out(p->width * p->height * 2, 0);
    for (int y = 0; y < p->height; ++y)
        for (int x = 0; x < p->width; x += 2) {
            char *d = out.data() + (y * p->width + x) * 2;
            d[0] = char(p->data[0][y * p->linesize[0] + x]);
            d[1] = char(p->data[1][y * p->linesize[1] + x / 2]);
            d[2] = char(p->data[0][y * p->linesize[0] + x + 1]);
            d[3] = char(p->data[2][y * p->linesize[2] + x / 2]);
        }
    return out;
}

// Bytes behind every output: the libraries below carry no sanitizer checks, a write past the end shows here.
constexpr int kGuard = 256;
const char kGuardByte = '\xA5';

bool guardIntact(const QByteArray &buffer, int size)
{
    return buffer.size() == size + kGuard && buffer.mid(size) == QByteArray(kGuard, kGuardByte);
}

// The YUY2 picture as NV12, in a buffer of exactly its size followed by the guard.
HRESULT toNv12(const QByteArray &yuy2, int width, int height, QByteArray *nv12)
{
    CComPtr<IColorConverter> converter;
    HRESULT hr = converter.CoCreateInstance(CLSID_ColorConverter);
    if (FAILED(hr))
        return hr;
    *nv12 = QByteArray(width * height * 3 / 2 + kGuard, kGuardByte);
    BYTE *dst[4] = {reinterpret_cast<BYTE *>(nv12->data()),
                    reinterpret_cast<BYTE *>(nv12->data()) + width * height, nullptr, nullptr};
    const UINT32 dstPitches[4] = {UINT32(width), UINT32(width), 0, 0};
    const BYTE *src[4] = {reinterpret_cast<const BYTE *>(yuy2.constData()), nullptr, nullptr, nullptr};
    const UINT32 srcPitches[4] = {UINT32(2 * width), 0, 0, 0};
    return converter->convert(dst, dstPitches, src, srcPitches, UINT32(width), UINT32(height), 24, 5);
}
} // namespace

class tst_Vfw : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { av_log_set_level(AV_LOG_ERROR); }

    void decompressesToYuy2_data()
    {
        QTest::addColumn<QByteArray>("encoder");
        QTest::addColumn<QByteArray>("fourcc");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("lossless");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        const QByteArray mjpeg("mjpeg"), huffyuv("huffyuv");
        QTest::newRow("MJPG") << mjpeg << QByteArray("MJPG") << int(AV_PIX_FMT_YUVJ422P) << false << 320
                              << 240;
        QTest::newRow("mjpg, 4:2:0") << mjpeg << QByteArray("mjpg") << int(AV_PIX_FMT_YUVJ420P) << false
                                     << 320 << 240;
        QTest::newRow("MJPG 202x100")
            << mjpeg << QByteArray("MJPG") << int(AV_PIX_FMT_YUVJ422P) << false << 202 << 100;
        QTest::newRow("HFYU") << huffyuv << QByteArray("HFYU") << int(AV_PIX_FMT_YUV422P) << true << 320
                              << 240;
        QTest::newRow("HFYU 58x16") << huffyuv << QByteArray("HFYU") << int(AV_PIX_FMT_YUV422P) << true << 58
                                    << 16;
        QTest::newRow("FFV1") << QByteArray("ffv1") << QByteArray("FFV1") << int(AV_PIX_FMT_YUV422P) << true
                              << 320 << 240;
    }
    // The codec stream's calls: open, state, begin, one decompression per frame, YUY2 to NV12, close.
    void decompressesToYuy2()
    {
        QFETCH(QByteArray, encoder);
        QFETCH(QByteArray, fourcc);
        QFETCH(int, format);
        QFETCH(bool, lossless);
        QFETCH(int, width);
        QFETCH(int, height);
        mediasamples::EncoderSettings settings;
        settings.codec = encoder.constData();
        settings.format = static_cast<AVPixelFormat>(format);
        settings.frames = 6;
        settings.width = width;
        settings.height = height;
        const auto encoded = mediasamples::encode(settings);
        QCOMPARE(int(encoded.packets.size()), 6);
        const auto reference = mediasamples::decodeAll(avcodec_find_encoder_by_name(settings.codec)->id,
                                                       encoded.packets, encoded.extradata, width, height);
        QCOMPARE(int(reference.size()), 6);

        const DWORD compression = MAKEFOURCC(fourcc[0], fourcc[1], fourcc[2], fourcc[3]);
        const QByteArray blob = videoFormat(compression, width, height, encoded.extradata);
        std::vector<BYTE> input;
        QCOMPARE(
            parseVideoFormat(reinterpret_cast<const BYTE *>(blob.constData()), blob.size(), &input, nullptr),
            S_OK);
        auto *in = reinterpret_cast<BITMAPINFOHEADER *>(input.data());
        BITMAPINFOHEADER out = yuy2Format(width, height);
        HIC codec = ICOpen(kVIDC, in->biCompression, ICMODE_DECOMPRESS);
        QVERIFY(codec);
        BYTE state[8] = {1, 2, 3};
        QCOMPARE(ICSetState(codec, state, sizeof state), ICERR_OK);
        QCOMPARE(ICDecompressBegin(codec, in, &out), ICERR_OK);
        const int size = width * height * 2;
        QByteArray yuy2(size + kGuard, kGuardByte);
        for (int i = 0; i < 6; ++i) {
            QByteArray frame = encoded.packets[i];
            in->biSizeImage = static_cast<DWORD>(frame.size());
            QCOMPARE(LRESULT(LONG(ICDecompress(codec, 0, in, frame.data(), &out, yuy2.data()))), ICERR_OK);
            QVERIFY(guardIntact(yuy2, size));
            const QByteArray picture = yuy2.left(size);
            const QByteArray expected =
                lossless ? packYuy2(mediasamples::testPicture(width, height, settings.format, i).get())
                         : mediasamples::convert(reference[i].get(), AV_PIX_FMT_YUYV422);
            QCOMPARE(picture, expected);
            QByteArray nv12;
            QCOMPARE(toNv12(picture, width, height, &nv12), S_OK);
            QVERIFY(guardIntact(nv12, width * height * 3 / 2));
            QCOMPARE(nv12.left(width * height * 3 / 2), mediasamples::yuy2ToNv12(picture, width, height));
            if (width >= 192) // wide enough for the number's blocks
                QCOMPARE(mediasamples::readNumber(reinterpret_cast<const uint8_t *>(nv12.constData()), width,
                                                  width),
                         i);
        }
        QCOMPARE(ICClose(codec), ICERR_OK);
        QCOMPARE(ICClose(codec), ICERR_BADHANDLE);
        QCOMPARE(ICDecompressBegin(codec, in, &out), ICERR_BADHANDLE);
    }

    void locateFindsTheDecompressorByFormat()
    {
        const QByteArray blob = videoFormat(MAKEFOURCC('M', 'J', 'P', 'G'), kWidth, kHeight);
        auto *in = reinterpret_cast<BITMAPINFOHEADER *>(const_cast<char *>(blob.constData()));
        BITMAPINFOHEADER out = yuy2Format(kWidth, kHeight);
        const DWORD unknown = MAKEFOURCC('X', 'V', 'I', 'D');
        QVERIFY(!ICOpen(kVIDC, unknown, ICMODE_DECOMPRESS));
        QVERIFY(!ICOpen(kVIDC, in->biCompression, ICMODE_COMPRESS));
        QVERIFY(!ICOpen(MAKEFOURCC('a', 'u', 'd', 'c'), in->biCompression, ICMODE_DECOMPRESS));
        HIC codec = ICLocate(kVIDC, unknown, in, &out, ICMODE_DECOMPRESS);
        QVERIFY(codec);
        QCOMPARE(ICSendMessage(codec, ICM_USER + 4, 0, 0), ICERR_UNSUPPORTED);
        QCOMPARE(ICClose(codec), ICERR_OK);
        BITMAPINFOHEADER rgb = out;
        rgb.biCompression = BI_RGB;
        rgb.biBitCount = 24;
        QVERIFY(!ICLocate(kVIDC, unknown, in, &rgb, ICMODE_DECOMPRESS));
    }

    // Formats and frames that do not fit are refused and nothing is written.
    void refusesWhatDoesNotFit_data()
    {
        QTest::addColumn<int>("headerWidth");
        QTest::addColumn<int>("headerHeight");
        QTest::addColumn<int>("outWidth");
        QTest::addColumn<int>("outHeight");
        QTest::addColumn<int>("frameWidth"); // the size actually encoded
        QTest::addColumn<LRESULT>("begin");
        QTest::addColumn<LRESULT>("decompress");
        QTest::newRow("larger frame than announced")
            << 320 << 240 << 320 << 240 << 640 << ICERR_OK << ICERR_BADFORMAT;
        QTest::newRow("output of another size")
            << 320 << 240 << 640 << 480 << 320 << ICERR_BADFORMAT << ICERR_ERROR;
        QTest::newRow("odd width") << 321 << 240 << 321 << 240 << 320 << ICERR_BADFORMAT << ICERR_ERROR;
        QTest::newRow("negative height")
            << 320 << -240 << 320 << -240 << 320 << ICERR_BADFORMAT << ICERR_ERROR;
        QTest::newRow("huge") << 100000 << 240 << 100000 << 240 << 320 << ICERR_BADFORMAT << ICERR_ERROR;
    }
    void refusesWhatDoesNotFit()
    {
        QFETCH(int, headerWidth);
        QFETCH(int, headerHeight);
        QFETCH(int, outWidth);
        QFETCH(int, outHeight);
        QFETCH(int, frameWidth);
        QFETCH(LRESULT, begin);
        QFETCH(LRESULT, decompress);
        mediasamples::EncoderSettings settings;
        settings.codec = "mjpeg";
        settings.format = AV_PIX_FMT_YUVJ422P;
        settings.frames = 1;
        settings.width = frameWidth;
        settings.height = frameWidth * 3 / 4;
        const auto encoded = mediasamples::encode(settings);
        QCOMPARE(int(encoded.packets.size()), 1);
        QByteArray frame = encoded.packets[0];
        QByteArray blob = videoFormat(MAKEFOURCC('M', 'J', 'P', 'G'), headerWidth, headerHeight);
        auto *in = reinterpret_cast<BITMAPINFOHEADER *>(blob.data());
        BITMAPINFOHEADER out = yuy2Format(outWidth, outHeight);
        HIC codec = ICOpen(kVIDC, in->biCompression, ICMODE_DECOMPRESS);
        QVERIFY(codec);
        QCOMPARE(ICDecompressBegin(codec, in, &out), begin);
        // Exactly the output the caller announced, so that any overrun is an address-sanitizer error.
        const int bytes =
            std::abs(outWidth * outHeight * 2) < (1 << 26) ? std::abs(outWidth * outHeight * 2) : 16;
        std::vector<char> yuy2(static_cast<std::size_t>(bytes), '\x33');
        in->biSizeImage = static_cast<DWORD>(frame.size());
        QCOMPARE(LRESULT(LONG(ICDecompress(codec, 0, in, frame.data(), &out, yuy2.data()))), decompress);
        QVERIFY(std::all_of(yuy2.begin(), yuy2.end(), [](char c) { return c == '\x33'; }));
        QCOMPARE(ICClose(codec), ICERR_OK);
    }

    void videoFormatChecks_data()
    {
        QTest::addColumn<QByteArray>("blob");
        QTest::addColumn<HRESULT>("result");
        QTest::addColumn<int>("formatSize");
        const DWORD mjpg = MAKEFOURCC('M', 'J', 'P', 'G');
        QByteArray larger = videoFormat(mjpg, 320, 240, QByteArray(20, 'x'));
        larger.chop(1);
        QByteArray smallSize = videoFormat(mjpg, 320, 240);
        smallSize[0] = 20;
        QTest::newRow("plain") << videoFormat(mjpg, 320, 240) << S_OK << 40;
        QTest::newRow("with codec bytes") << videoFormat(mjpg, 320, 240, "abcd") << S_OK << 44;
        QTest::newRow("extra bytes beyond biSize") << videoFormat(mjpg, 320, 240) + "more" << S_OK << 40;
        QTest::newRow("short blob read as 40 bytes") << videoFormat(mjpg, 320, 240).left(36) << S_OK << 40;
        QTest::newRow("header larger than its blob") << larger << kInvalidFormat << 0;
        QTest::newRow("header size below 40") << smallSize << kInvalidFormat << 0;
        QTest::newRow("too short to hold a size")
            << videoFormat(mjpg, 320, 240).left(6) << kInvalidFormat << 0;
        QTest::newRow("negative width") << videoFormat(mjpg, -320, 240) << kInvalidFormat << 0;
        QTest::newRow("negative height") << videoFormat(mjpg, 320, -240) << kInvalidFormat << 0;
        QTest::newRow("zero size") << videoFormat(mjpg, 0, 0) << kInvalidFormat << 0;
        QTest::newRow("huge width") << videoFormat(mjpg, 1 << 30, 2) << kInvalidFormat << 0;
        QTest::newRow("huge area") << videoFormat(mjpg, 16384, 16384) << kInvalidFormat << 0;
        QTest::newRow("empty") << QByteArray() << kInvalidFormat << 0;
    }
    void videoFormatChecks()
    {
        QFETCH(QByteArray, blob);
        QFETCH(HRESULT, result);
        QFETCH(int, formatSize);
        std::vector<BYTE> format;
        QString error;
        QCOMPARE(
            parseVideoFormat(reinterpret_cast<const BYTE *>(blob.constData()), blob.size(), &format, &error),
            result);
        QCOMPARE(int(format.size()), formatSize);
        QCOMPARE(error.isEmpty(), result == S_OK);
    }

    void audioFormatChecks_data()
    {
        QTest::addColumn<QByteArray>("blob");
        QTest::addColumn<HRESULT>("result");
        WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
        const QByteArray good(reinterpret_cast<const char *>(&pcm), sizeof pcm);
        auto with = [&](auto change) {
            WAVEFORMATEX w = pcm;
            change(w);
            return QByteArray(reinterpret_cast<const char *>(&w), sizeof w);
        };
        QTest::newRow("pcm") << good << S_OK;
        QTest::newRow("longer blob") << good + QByteArray(22, '\xFF') << S_OK;
        QTest::newRow("17 bytes") << good.left(17) << kInvalidFormat;
        QTest::newRow("no byte rate")
            << with([](WAVEFORMATEX &w) { w.nAvgBytesPerSec = 0; }) << kInvalidFormat;
        QTest::newRow("no channels") << with([](WAVEFORMATEX &w) { w.nChannels = 0; }) << kInvalidFormat;
        QTest::newRow("no alignment") << with([](WAVEFORMATEX &w) { w.nBlockAlign = 0; }) << kInvalidFormat;
        QTest::newRow("no sample rate")
            << with([](WAVEFORMATEX &w) { w.nSamplesPerSec = 0; }) << kInvalidFormat;
    }
    void audioFormatChecks()
    {
        QFETCH(QByteArray, blob);
        QFETCH(HRESULT, result);
        WAVEFORMATEX format{};
        QCOMPARE(
            parseAudioFormat(reinterpret_cast<const BYTE *>(blob.constData()), blob.size(), &format, nullptr),
            result);
        if (result == S_OK)
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(&format), sizeof format), blob.left(18));
    }

    void frameRateChecks()
    {
        for (double bad : {0.0, -25.0, 1e6, 1e-300, 0.009, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()})
            QCOMPARE(checkFrameRate(bad, nullptr), kInvalidFormat);
        for (double good : {25.0, 29.97, 0.5, 0.01, 1000.0})
            QCOMPARE(checkFrameRate(good, nullptr), S_OK);
    }
};

QTEST_GUILESS_MAIN(tst_Vfw)
#include "tst_vfw.moc"
