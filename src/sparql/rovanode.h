// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVANODE_H
#define ROVANODE_H

#include "rova_export.h"

#include <QObject>
#include <QString>

/*!
    One subject or object of a SPARQL triple pattern: the token as written and the kind of
    term its first character makes it.
*/
class ROVA_EXPORT RovaNode : public QObject
{
    Q_OBJECT
public:
    /*! The kind of term a node is. */
    enum RovaNodeType {
        InvalidNode = 0, ///< not a term this parser knows
        VariableNode = 1, //!< "?name"
        BlankNode = 2,    //!< "_:name"
        UriNode = 3,      //!< "<iri>"
        LiteralNode = 4   //!< a double-quoted string
    };
    Q_ENUM(RovaNodeType)

    RovaNode();
    ~RovaNode() override;

    /*!
        Takes \a token as the node when its first character names a kind of term and returns
        true. Otherwise the type becomes InvalidNode, the text stays as it was and the result
        is false.
    */
    bool init(const QString& token);

    /*! The kind of term; InvalidNode until init() accepted a token. */
    RovaNodeType nodeType() const;
    /*! Sets the kind of term without checking it against the text. */
    void setNodeType(RovaNodeType type);
    /*! The token as written. */
    QString text() const;
    /*! Sets the text without checking it against the kind of term. */
    void setText(const QString& text);

private:
    RovaNodeType m_nodeType = InvalidNode;
    QString m_text;
};

#endif // ROVANODE_H
