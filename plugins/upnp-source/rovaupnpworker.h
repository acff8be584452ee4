// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAUPNPWORKER_H
#define ROVAUPNPWORKER_H

#include <rovacontent.h>

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <thread>

typedef struct _GMainContext GMainContext;

/*!
    The network side of the UPnP source: a control point for media servers
    (ContentDirectory) on a thread of its own, with a GLib main context of its
    own, so that it works whatever event dispatcher the application's thread runs.

    Everything the worker reports (servers that appear and go, answers to
    actions) goes to the listener's post(), called on the worker's thread; the
    listener hands it over to its own thread. The listener must outlive the
    worker.
*/
class RovaUpnpWorker
{
public:
    struct Listener
    {
        virtual ~Listener() = default;
        /*! Runs \a job on the listener's thread, later. Called on the worker's thread. */
        virtual void post(std::function<void()> job) = 0;
        /*! A media server appeared: its UDN and its friendly name (through post()). */
        virtual void serverAppeared(const QString& udn, const QString& name) = 0;
        /*! The media server \a udn said goodbye (through post()). */
        virtual void serverGone(const QString& udn) = 0;
    };

    /*! What a Browse or Search brought: the usable objects and the counts the server gave. */
    struct Page
    {
        bool failed = false;
        bool unreachable = false; // the server did not answer at all (not a fault it reported)
        QString error;
        QList<RovaContent> items;
        uint objects = 0;         // objects in the answer, usable or not
        uint numberReturned = 0;
        uint totalMatches = 0;
        QString value;            // for GetSearchCapabilities: the capabilities
    };
    using Done = std::function<void(const Page&)>;

    /*!
        Starts discovery on the network interface \a interfaceName (all
        interfaces when empty). Actions that take longer than \a timeoutMs fail.
    */
    RovaUpnpWorker(Listener* listener, const QString& interfaceName, int timeoutMs);
    ~RovaUpnpWorker();

    /*!
        Browses the object \a objectId of the server \a udn (the children, or
        with \a metadata the object itself); the items' ids start with
        \a sourceUuid and "::". \a done runs on the worker's thread.
    */
    void browse(const QString& udn, const QString& sourceUuid, const QString& objectId, bool metadata,
                uint start, uint count, Done done);
    /*! Searches the container \a containerId with \a criteria. */
    void search(const QString& udn, const QString& sourceUuid, const QString& containerId,
                const QString& criteria, uint start, uint count, Done done);
    /*! Asks the server for its search capabilities (Page::value). */
    void searchCapabilities(const QString& udn, Done done);
    /*!
        Forgets the server \a udn, which stopped answering: it is reported as
        appearing again once it answers discovery again.
    */
    void forget(const QString& udn);

    /*! The DIDL-Lite document \a didl as items of \a sourceUuid (for the worker and for tests). */
    static Page parseDidl(const QString& sourceUuid, const char* didl);

    struct Private; // the worker thread's side, internal

private:
    std::unique_ptr<Private> d;
    std::thread m_thread;
};

#endif // ROVAUPNPWORKER_H
