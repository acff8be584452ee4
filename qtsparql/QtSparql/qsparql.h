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
/*! Positions outside the rows, as QSparqlResult::pos() reports them. */
enum Location {
    BeforeFirstRow = -1, ///< before the first row: where a finished result starts
    AfterLastRow = -2 ///< after the last row
};
}

#endif // QSPARQL_H
