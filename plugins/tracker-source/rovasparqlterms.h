// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVASPARQLTERMS_H
#define ROVASPARQLTERMS_H

#include <QString>

/*!
    Turns outside text into SPARQL terms that cannot change the statement they
    are put into. Used wherever a title, a search text or an object id goes
    into a query or an update.
*/
namespace RovaSparqlTerms {

/*!
    \a text as a quoted string literal, with quotes, backslashes and line
    breaks escaped. Other control characters cannot be written in a literal:
    then \a ok is set to false and the result is an empty literal.
*/
QString literal(const QString& text, bool* ok = nullptr);

/*! True when \a iri can stand between < and > : not empty, has a scheme, and
    holds no space, control character or any of <>"{}|^`\ . */
bool isValidIri(const QString& iri);

/*! \a iri between < and >, or an empty string when it is not valid. */
QString iri(const QString& iri);

} // namespace RovaSparqlTerms

#endif // ROVASPARQLTERMS_H
