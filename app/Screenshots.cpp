#include "app/Screenshots.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>

#include "app/CAboutDlg.h"
#include "app/CManualDlg.h"
#include "app/CMarrowdyneDlg.h"
#include "ui/SystemMessage.h"
#include "common/TextFormat.h"
#include "image/ui/CAddressDlg.h"
#include "job/ui/COptionsDlg.h"
#include "link/SimulatedBackend.h"
#include "link/SimulatorSetup.h"
#include "remote/ui/CSerNumDlg.h"
#include "update/ui/CFirmwareDlg.h"

namespace {

void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

bool Shot(QWidget& widget, const QString& directory, const QString& name) {
    widget.show();
    Settle();
    const QString file = QDir(directory).filePath(name);
    const bool saved = widget.grab().save(file, "PNG");
    widget.hide();
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "wrote" : "cannot write",
                 qPrintable(file));
    return saved;
}

std::string HexRecord(std::uint8_t type, std::uint16_t offset, const std::uint8_t* data,
                      std::size_t count) {
    std::uint32_t sum = static_cast<std::uint32_t>(count) + (offset >> 8) + (offset & 0xFF) + type;
    std::string line = Format(":%02X%04X%02X", static_cast<unsigned>(count), offset, type);
    for (std::size_t i = 0; i < count; ++i) {
        line += Format("%02X", data[i]);
        sum += data[i];
    }
    line += Format("%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line;
}

}  // namespace

QByteArray SampleHexText(std::uint32_t address, std::uint32_t size) {
    std::string text;
    std::uint32_t upper = 0xFFFFFFFF;
    for (std::uint32_t at = 0; at < size; at += 16) {
        const std::uint32_t target = address + at;
        if ((target >> 16) != upper) {
            upper = target >> 16;
            const std::uint8_t base[2] = {static_cast<std::uint8_t>(upper >> 8),
                                          static_cast<std::uint8_t>(upper)};
            text += HexRecord(0x04, 0, base, 2);
        }
        std::uint8_t data[16];
        const std::uint32_t count = size - at < 16 ? size - at : 16;
        for (std::uint32_t i = 0; i < count; ++i)
            data[i] = static_cast<std::uint8_t>((at + i) * 7 + 1);
        text += HexRecord(0x00, static_cast<std::uint16_t>(target & 0xFFFF), data, count);
    }
    text += HexRecord(0x01, 0, nullptr, 0);
    return QByteArray::fromStdString(text);
}

namespace {

// The sample job loaded from `folder`, with the series a user picks for this board.
void LoadSample(CMarrowdyneDlg& main, const QTemporaryDir& folder) {
    const QString hex = folder.filePath(QStringLiteral("blink-stm32f103.hex"));
    QFile file(hex);
    if (file.open(QIODevice::WriteOnly)) file.write(SampleHexText(0x08000000, 6144));
    file.close();
    main.OpenChosenFile(hex);
    if (auto* series = main.findChild<QComboBox*>(QStringLiteral("id1001")))
        series->setCurrentIndex(1);
}

// The shelf of four simulated programmers, one of them refusing its third image block:
// the job stored into all, then verified, with the log pane of both.
bool ShotShelf(const QString& directory) {
    SimulatorRequest request;
    request.count = 4;
    std::string error;
    if (std::optional<AimedFault> fault = ParseAimedFault("2:WriteStorage:status@5", 4, error))
        request.faults.push_back(*fault);
    SimulatorSetupError refused;
    std::optional<SimulatedShelf> simulated = SetUpSimulator(request, refused);
    if (!simulated) {
        std::fprintf(stderr, "cannot simulate the shelf: %s\n", refused.message.c_str());
        return false;
    }
    MainDialogOptions options;
    options.watchDevices = false;
    CMarrowdyneDlg main(*simulated->backend, options);
    main.show();
    Settle();
    main.FinishWorkers(10000);
    QTemporaryDir folder;
    LoadSample(main, folder);
    main.shelf().StoreIntoAll();
    main.FinishWorkers(20000);
    Settle();
    main.shelf().VerifyAll();
    main.FinishWorkers(20000);
    Settle();
    const bool saved = Shot(main, directory, QStringLiteral("shelf.png"));
    main.close();
    return saved;
}

}  // namespace

int RenderScreenshots(SimulatedBackend& simulator, const std::string& programmerPath,
                      const QString& directory) {
    if (!QDir().mkpath(directory)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(directory));
        return 1;
    }
    SetSystemMessageHook([](const SystemMessage&) { return true; });
    bool ok = true;
    {
        MainDialogOptions options;
        options.watchDevices = false;
        options.simulator = &simulator;
        options.demoProgrammerPath = programmerPath;
        CMarrowdyneDlg main(simulator, options);
        main.show();
        Settle();
        main.FinishWorkers(10000);

        QTemporaryDir folder;
        LoadSample(main, folder);
        if (auto* runAfter = main.findChild<QCheckBox*>(QStringLiteral("id1004")))
            runAfter->setChecked(true);
        main.OnProgram();
        main.FinishWorkers(10000);
        Settle();
        ok &= Shot(main, directory, QStringLiteral("main-window.png"));
        main.show();

        {
            COptionsDlg dialog(main.shift, &main);
            ok &= Shot(dialog, directory, QStringLiteral("options.png"));
        }
        {
            CAddressDlg dialog(&main);
            ok &= Shot(dialog, directory, QStringLiteral("address.png"));
        }
        {
            CSerNumDlg dialog(&main);
            ok &= Shot(dialog, directory, QStringLiteral("serial-number.png"));
        }
        {
            CFirmwareDlg dialog(main.Link(), &main);
            ok &= Shot(dialog, directory, QStringLiteral("firmware-update.png"));
        }
        {
            CAboutDlg dialog(main.programmerVersion(), main.connectionCode(), &main);
            ok &= Shot(dialog, directory, QStringLiteral("device-information.png"));
        }
        {
            CManualDlg dialog(&main);
            ok &= Shot(dialog, directory, QStringLiteral("manual.png"));
        }
        main.close();
    }
    ok &= ShotShelf(directory);
    SetSystemMessageHook(nullptr);
    return ok ? 0 : 1;
}
