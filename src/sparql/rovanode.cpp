// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovanode.h"

RovaNode::RovaNode() = default;

RovaNode::~RovaNode() = default;

bool RovaNode::init(const QString& token)
{
    RovaNodeType type = InvalidNode;
    if (!token.isEmpty()) {
        switch (token.at(0).unicode()) {
        case u'?':
            type = VariableNode;
            break;
        case u'_':
            type = BlankNode;
            break;
        case u'<':
            type = UriNode;
            break;
        case u'"':
            type = LiteralNode;
            break;
        default:
            break;
        }
    }
    m_nodeType = type;
    if (type == InvalidNode)
        return false;
    m_text = token;
    return true;
}

RovaNode::RovaNodeType RovaNode::nodeType() const
{
    return m_nodeType;
}

void RovaNode::setNodeType(RovaNodeType type)
{
    m_nodeType = type;
}

QString RovaNode::text() const
{
    return m_text;
}

void RovaNode::setText(const QString& text)
{
    m_text = text;
}
