# What keeps the two builds of the test run cheap.
#
# Linking the sanitizer build's many test programs was one of its largest
# costs; mold links them several times faster than the default linker where
# it is installed (scripts/setup.sh installs it).
#
# Each translation unit of ours spends most of its time in the Qt and QCoro
# headers. A unity build compiles the sources of a target in batches, one
# translation unit a batch, and so reads those headers once a batch instead of
# once a source: a clean build takes less than half the processor time. The
# price is that the files of a target share one scope per batch: helpers in
# anonymous namespaces need names of their own across the target, and a
# helper that several files need lives in a header. A batch also hides an
# include a source forgets, so the sanitizer build (asan preset, in CI) and the
# dev preset compile every source alone.
option(VARNO_UNITY_BUILD "Compile the sources of each target in batches, one translation unit per batch" ON)
set(VARNO_UNITY_BATCH_SIZE 16 CACHE STRING "Sources per translation unit of a unity build")
if(VARNO_UNITY_BUILD)
    set(CMAKE_UNITY_BUILD ON)
    set(CMAKE_UNITY_BUILD_BATCH_SIZE ${VARNO_UNITY_BATCH_SIZE})
    # GCC holds a source included into another to the rules of a header: a
    # class of it with a member of an anonymous-namespace type is reported,
    # although every such class stays inside its own translation unit.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        add_compile_options(-Wno-subobject-linkage)
    endif()
endif()

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
