# What keeps the two builds of the test run cheap.
#
# Linking the sanitizer build's many test programs was one of its largest
# costs; mold links them several times faster than the default linker where
# it is installed (scripts/setup.sh installs it).
#
# Precompiled headers are left off by default: each of GCC's is about 240 MB,
# and loading one per translation unit made a parallel build slower here, not
# faster (a clean build's objects took about twice the time), although a single
# translation unit compiled alone takes half the time with one.

option(VARNO_PRECOMPILE_HEADERS "Precompile the Qt, QCoro and standard headers of each target" OFF)

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
