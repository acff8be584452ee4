// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef QSPARQL_H
#define QSPARQL_H

#include <QtCore/qglobal.h>

#if defined(QROVA_QTSPARQL_LIBRARY)
#  define Q_SPARQL_EXPORT Q_DECL_EXPORT
#else
#  define Q_SPARQL_EXPORT Q_DECL_IMPORT
#endif

/*! Positions a result can be at besides its rows. */
namespace QSparql {
enum Location {
    BeforeFirstRow = -1,
    AfterLastRow = -2
};
}

#endif // QSPARQL_H
