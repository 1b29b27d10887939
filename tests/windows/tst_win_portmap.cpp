// The port list from the registry's serial device map, as the search sees it: test
// values written into HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, read back through the
// system's own serial driver with the wide-character calls. What the key held
// before is put back afterwards.
#include "serial/Enumcomports.h"

#include <QTest>

#include <vector>

namespace {

const wchar_t *const mapPath = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct RawValue
{
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
};

// A value as a test writes it: text, or raw bytes of another type.
struct TestValue
{
    QString name;
    QString data;
    DWORD type = REG_SZ;
    bool withTerminator = true;
};

HKEY openMap(REGSAM access)
{
    HKEY key = nullptr;
    // The device map lives only while the system runs, so it is recreated volatile.
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, mapPath, 0, nullptr, REG_OPTION_VOLATILE, access, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

std::vector<RawValue> readAll(HKEY key)
{
    std::vector<RawValue> values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD nameLength = 512;
        BYTE data[1024];
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS)
            break;
        values.push_back({std::wstring(name, nameLength), type, std::vector<BYTE>(data, data + dataLength)});
    }
    return values;
}

void clearAll(HKEY key)
{
    for (const RawValue &v : readAll(key))
        RegDeleteValueW(key, v.name.c_str());
}

bool write(HKEY key, const TestValue &v)
{
    const std::wstring name = v.name.toStdWString();
    if (v.type != REG_SZ) {
        const DWORD number = v.data.toUInt();
        return RegSetValueExW(key, name.c_str(), 0, v.type, reinterpret_cast<const BYTE *>(&number),
                              sizeof number) == ERROR_SUCCESS;
    }
    const std::wstring data = v.data.toStdWString();
    const DWORD bytes = DWORD((data.size() + (v.withTerminator ? 1 : 0)) * sizeof(wchar_t));
    return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                          bytes) == ERROR_SUCCESS;
}

QStringList names(const PortList &list)
{
    QStringList out;
    for (const PortName &p : list) {
        out << p.name;
        if (p.name != QStringLiteral("COM%1").arg(p.number))
            out << QStringLiteral("(number %1)").arg(p.number);
    }
    return out;
}

} // namespace

Q_DECLARE_METATYPE(QList<TestValue>)

class TestWinPortMap : public QObject
{
    Q_OBJECT

    std::vector<RawValue> saved;

private slots:
    void initTestCase()
    {
        HKEY key = openMap(KEY_READ);
        QVERIFY2(key, "the serial device map cannot be opened");
        saved = readAll(key);
        RegCloseKey(key);
    }

    void cleanupTestCase()
    {
        HKEY key = openMap(KEY_READ | KEY_WRITE);
        QVERIFY(key);
        clearAll(key);
        for (const RawValue &v : saved)
            RegSetValueExW(key, v.name.c_str(), 0, v.type, v.data.data(), DWORD(v.data.size()));
        RegCloseKey(key);
    }

    void listedAndNumbered_data()
    {
        QTest::addColumn<QList<TestValue>>("values");
        QTest::addColumn<uint>("mask");
        QTest::addColumn<QStringList>("ports");
        const QList<TestValue> classes = {{"\\Device\\Serial0", "COM1"},
                                          {"\\Device\\BtPort0", "COM7"},
                                          {"\\Device\\VCP0", "COM12"},
                                          {"\\Device\\Silabser0", "COM4"},
                                          {"\\Device\\BthModem3", "COM20"}};
        QTest::newRow("the search's mask: Bluetooth left out, numeric order")
            << classes << 6u << QStringList{"COM1", "COM4", "COM12"};
        QTest::newRow("built-in ports left out")
            << classes << 1u << QStringList{"COM4", "COM7", "COM12", "COM20"};
        QTest::newRow("USB virtual ports left out")
            << classes << 8u << QStringList{"COM1", "COM4", "COM7", "COM20"};
        QTest::newRow("every class left out") << classes << 15u << QStringList{"COM4"};
        QTest::newRow("nothing left out")
            << classes << 0u << QStringList{"COM1", "COM4", "COM7", "COM12", "COM20"};
        QTest::newRow("prefixes in any case")
            << QList<TestValue>{{"\\DEVICE\\vcp3", "COM9"}, {"\\device\\serial1", "COM2"}} << 9u
            << QStringList{};
        QTest::newRow("lower-case data taken, other devices left out")
            << QList<TestValue>{{"\\Device\\Parallel0", "LPT1"}, {"\\Device\\ProlificSerial0", "com5"}} << 6u
            << QStringList{"COM5"};
        QTest::newRow("two names for one number")
            << QList<TestValue>{{"\\Device\\A0", "COM3"}, {"\\Device\\B0", "COM3"}} << 6u
            << QStringList{"COM3", "COM3"};
        QTest::newRow("names in other scripts")
            << QList<TestValue>{{QString::fromUtf8("\\Device\\Последовательный0"), "COM9"},
                                {QString::fromUtf8("\\Device\\Serial\u4e32\u53e3"), "COM10"}}
            << 1u << QStringList{"COM9"};
        TestValue unterminated{"\\Device\\Usb0", "COM8"};
        unterminated.withTerminator = false;
        QTest::newRow("data stored without its terminating zero")
            << QList<TestValue>{unterminated} << 6u << QStringList{"COM8"};
        TestValue number{"\\Device\\Odd0", "5", REG_DWORD};
        QTest::newRow("a value that is not text spoils the map")
            << QList<TestValue>{{"\\Device\\Serial0", "COM1"}, number} << 6u << QStringList{};
        QTest::newRow("an empty map") << QList<TestValue>{} << 6u << QStringList{};
    }
    void listedAndNumbered()
    {
        QFETCH(QList<TestValue>, values);
        QFETCH(uint, mask);
        QFETCH(QStringList, ports);
        HKEY key = openMap(KEY_READ | KEY_WRITE);
        QVERIFY(key);
        clearAll(key);
        for (const TestValue &v : values)
            QVERIFY(write(key, v));
        RegCloseKey(key);

        PortList list{{"stale", 99}};
        EnumeratePorts(&list, mask);
        QCOMPARE(names(list), ports);
    }

    void missingMapListsNothing()
    {
        HKEY key = openMap(KEY_READ | KEY_WRITE);
        QVERIFY(key);
        QVERIFY(write(key, {"\\Device\\Serial0", "COM1"}));
        RegCloseKey(key);
        QCOMPARE(RegDeleteKeyW(HKEY_LOCAL_MACHINE, mapPath), LONG(ERROR_SUCCESS));
        PortList list{{"stale", 99}};
        EnumeratePorts(&list, 6);
        QVERIFY(list.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWinPortMap)
#include "tst_win_portmap.moc"
