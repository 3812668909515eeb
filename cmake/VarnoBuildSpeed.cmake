# What keeps the two builds of the test run cheap.
#
# Almost all of a translation unit's time goes to parsing the same Qt, QCoro
# and standard headers, so every target of ours precompiles them once. The
# lists hold only headers most of our sources include anyway; a source still
# includes what it uses, so nothing depends on the precompiled header.
#
# Linking the sanitizer build's many test programs is the other large cost;
# mold links them several times faster than the default linker where it is
# installed (scripts/setup.sh installs it).

option(VARNO_PRECOMPILE_HEADERS "Precompile the Qt, QCoro and standard headers of each target" ON)

set(VARNO_PCH_CORE
    <chrono> <exception> <functional> <memory> <optional> <utility> <vector>
    <QByteArray> <QCoreApplication> <QDateTime> <QDir> <QFile> <QFileInfo> <QHash> <QJsonArray>
    <QJsonDocument> <QJsonObject> <QJsonValue> <QList> <QMutex> <QObject> <QPointer> <QProcess>
    <QString> <QStringList> <QTimer>
    <qcoro/qcorotask.h>)
set(VARNO_PCH_UI ${VARNO_PCH_CORE}
    <QApplication> <QColor> <QFont> <QHBoxLayout> <QLabel> <QPainter> <QPainterPath> <QPushButton>
    <QVBoxLayout> <QWidget>)
set(VARNO_PCH_TEST <QSignalSpy> <QTest>)

# varno_precompile(<target> [UI] [TEST])
function(varno_precompile target)
    if(NOT VARNO_PRECOMPILE_HEADERS)
        return()
    endif()
    cmake_parse_arguments(ARG "UI;TEST" "" "" ${ARGN})
    if(ARG_UI)
        set(headers ${VARNO_PCH_UI})
    else()
        set(headers ${VARNO_PCH_CORE})
    endif()
    if(ARG_TEST)
        list(APPEND headers ${VARNO_PCH_TEST})
    endif()
    target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

include(CheckLinkerFlag)
check_linker_flag(CXX "-fuse-ld=mold" VARNO_LINKER_MOLD)
if(VARNO_LINKER_MOLD)
    add_link_options(-fuse-ld=mold)
endif()
